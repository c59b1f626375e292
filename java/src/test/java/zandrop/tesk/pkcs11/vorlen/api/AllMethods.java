package zandrop.tesk.pkcs11.vorlen.api;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.List;
import java.util.Set;

/** Every PKCS#11 method of PKCS11Impl, and a call of each with plain, valid arguments. */
final class AllMethods {
    private AllMethods() {
    }

    /** The 23 methods of the functions that the 3.0 list added (C_GetInterface is connect's). */
    static final Set<String> VERSION_3 = Set.of("C_GetInterfaceList", "C_LoginUser", "C_SessionCancel",
            "C_MessageEncryptInit", "C_EncryptMessage", "C_EncryptMessageBegin", "C_EncryptMessageNext",
            "C_MessageEncryptFinal", "C_MessageDecryptInit", "C_DecryptMessage", "C_DecryptMessageBegin",
            "C_DecryptMessageNext", "C_MessageDecryptFinal", "C_MessageSignInit", "C_SignMessage",
            "C_SignMessageBegin", "C_SignMessageNext", "C_MessageSignFinal", "C_MessageVerifyInit",
            "C_VerifyMessage", "C_VerifyMessageBegin", "C_VerifyMessageNext", "C_MessageVerifyFinal");

    /** The 67 PKCS#11 methods of the 2.x list, in a stable order. */
    static List<Method> pkcs11Methods() {
        return methods(false);
    }

    /** The 23 methods of the 3.0 list's new functions, in a stable order. */
    static List<Method> version3Methods() {
        return methods(true);
    }

    private static List<Method> methods(boolean version3) {
        List<Method> methods = new ArrayList<>();
        for (Method method : PKCS11Impl.class.getDeclaredMethods()) {
            if (Modifier.isNative(method.getModifiers()) && Modifier.isPublic(method.getModifiers())
                    && !Modifier.isStatic(method.getModifiers()) && method.getName().startsWith("C_")
                    && VERSION_3.contains(method.getName()) == version3) {
                methods.add(method);
            }
        }
        methods.sort(Comparator.comparing(Method::getName));
        return methods;
    }

    /** A plain argument of the given type: every handle and slot is {@code session}. */
    static Object argument(Class<?> type, long session) {
        if (type == long.class) {
            return session;
        }
        if (type == boolean.class) {
            return true;
        }
        if (type == byte[].class) {
            return new byte[32];
        }
        if (type == char[].class) {
            return "1234".toCharArray();
        }
        if (type == CK_MECHANISM.class) {
            return new CK_MECHANISM(CKM_SHA256);
        }
        if (type == CK_ATTRIBUTE[].class) {
            return new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_LABEL, "label"), new CK_ATTRIBUTE(CKA_VALUE),
                new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE, new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_CLASS, CKO_SECRET_KEY)})};
        }
        return null; // Object and CK_NOTIFY
    }

    /** Calls the method with plain arguments; returns "returned" or what it threw. */
    static Object call(Method method, PKCS11Impl pkcs11, long session) throws Exception {
        Object outcome = invoke(method, pkcs11, arguments(method, session));
        return outcome instanceof Throwable ? outcome : "returned";
    }

    /** Plain arguments for the method: every handle and slot is {@code session}. */
    static Object[] arguments(Method method, long session) {
        Object[] arguments = new Object[method.getParameterCount()];
        Class<?>[] types = method.getParameterTypes();
        for (int i = 0; i < arguments.length; i++) {
            arguments[i] = argument(types[i], session);
        }
        return arguments;
    }

    /** Calls the method; returns its result (null for void) or what it threw. */
    static Object invoke(Method method, PKCS11Impl pkcs11, Object[] arguments) throws Exception {
        try {
            return method.invoke(pkcs11, arguments);
        } catch (InvocationTargetException e) {
            return e.getCause();
        }
    }
}
