package zandrop.tesk.pkcs11.vorlen.demo;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.io.PrintStream;
import java.nio.charset.StandardCharsets;

import zandrop.tesk.pkcs11.vorlen.api.CK_INFO;
import zandrop.tesk.pkcs11.vorlen.api.CK_SESSION_INFO;
import zandrop.tesk.pkcs11.vorlen.api.CK_TOKEN_INFO;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Exception;

/**
 * The road of one request: a program signs data with a key that it finds by its label, and
 * verifies the signature, printing each step as it happens: connect, initialise, choose the slot,
 * open a session, log in, find the key, sign, verify, log out, close, finalise, disconnect.
 */
final class Road {

    /** One step; returns what happened, in a few words. */
    @FunctionalInterface
    private interface Step {
        String run() throws DemoException;
    }

    private final PrintStream out;
    private int number;

    private Road(PrintStream out) {
        this.out = out;
    }

    private String step(String functions, Step step) throws DemoException {
        number++;
        long started = System.nanoTime();
        String happened;
        try {
            happened = step.run();
        } catch (DemoException | RuntimeException e) {
            print(functions, started, "FAILED");
            throw e;
        }
        print(functions, started, happened);
        return happened;
    }

    private void print(String functions, long started, String happened) {
        double millis = (System.nanoTime() - started) / 1e6;
        out.println(String.format("%3d  %-40s %8.1f ms  %s", number, functions, millis, happened));
    }

    /**
     * Walks the road.
     *
     * @param modulePath the module
     * @param slotOption the slot given on the command line, or null
     * @param tokenLabel the label of the token to look for when no slot is given, or null
     * @param pin the user's PIN
     * @param keyLabel the label of the key pair
     * @param data the data to sign
     */
    static void walk(String modulePath, Long slotOption, String tokenLabel, String pin, String keyLabel,
            byte[] data, PrintStream out) throws DemoException {
        new Road(out).walk(modulePath, slotOption, tokenLabel, pin, keyLabel, data);
    }

    private void walk(String modulePath, Long slotOption, String tokenLabel, String pin, String keyLabel,
            byte[] data) throws DemoException {
        out.println("The road of one request: sign " + data.length + " bytes with the key \"" + keyLabel
                + "\" and verify the signature");
        out.println();
        out.println(String.format("%3s  %-40s %11s  %s", "#", "PKCS #11 functions", "time", "what happened"));
        long started = System.nanoTime();
        Token[] token = new Token[1];
        step("connect (C_GetFunctionList)", () -> {
            token[0] = Token.connect(modulePath);
            return modulePath + " loaded, function list obtained";
        });
        Token t = token[0];
        try {
            step("C_Initialize, C_GetInfo", () -> {
                t.initialize();
                CK_INFO info = Token.call("C_GetInfo", t.pkcs11::C_GetInfo);
                return "CKF_OS_LOCKING_OK; " + Text.chars(info.manufacturerID) + " "
                        + Text.chars(info.libraryDescription) + " " + Text.version(info.libraryVersion)
                        + ", Cryptoki " + Text.version(info.cryptokiVersion);
            });
            long[] slot = new long[1];
            step("C_GetSlotList, C_GetTokenInfo", () -> {
                slot[0] = t.chooseSlot(slotOption, tokenLabel);
                CK_TOKEN_INFO info = t.tokenInfo(slot[0]);
                return "slot " + Text.handle(slot[0]) + ": token \"" + Text.chars(info.label) + "\", serial "
                        + Text.chars(info.serialNumber);
            });
            long[] session = new long[1];
            step("C_OpenSession", () -> {
                session[0] = t.openSession(slot[0], false);
                return "session " + Text.handle(session[0]) + ", read-only";
            });
            walkSession(t, slot[0], session[0], pin, keyLabel, data);
            step("C_CloseSession", () -> {
                Token.run("C_CloseSession", () -> t.pkcs11.C_CloseSession(session[0]));
                return "session " + Text.handle(session[0]) + " closed";
            });
            step("C_Finalize", () -> {
                t.finalizeModule();
                return "the module released its resources";
            });
        } catch (DemoException | RuntimeException e) {
            // Finalising the module closes the session and logs the user out.
            t.close();
            throw e;
        }
        step("disconnect", () -> {
            t.close();
            return "module unloaded";
        });
        out.println();
        out.println(String.format("The request took %.1f ms.", (System.nanoTime() - started) / 1e6));
    }

    private void walkSession(Token t, long slot, long session, String pin, String keyLabel, byte[] data)
            throws DemoException {
        step("C_Login, C_GetSessionInfo", () -> {
            t.login(session, pin);
            CK_SESSION_INFO info = Token.call("C_GetSessionInfo", () -> t.pkcs11.C_GetSessionInfo(session));
            return "user logged in, session state " + stateName(info.state);
        });
        long[] key = new long[2];
        Signing[] signing = new Signing[1];
        step("C_FindObjects*, C_GetAttributeValue", () -> {
            key[0] = t.findOne(session, CKO_PRIVATE_KEY, keyLabel);
            long type = t.longAttribute(session, key[0], CKA_KEY_TYPE);
            signing[0] = Signing.forKey(t, slot, type);
            return "private key \"" + keyLabel + "\": handle " + Text.handle(key[0]) + ", "
                    + Text.keyType(type);
        });
        byte[][] signature = new byte[1][];
        step("C_SignInit, C_Sign", () -> {
            Token.run("C_SignInit", () -> t.pkcs11.C_SignInit(session, signing[0].mechanism(), key[0]));
            signature[0] = Token.call("C_Sign", () -> t.pkcs11.C_Sign(session, signing[0].input(data)));
            return signing[0].describe() + ": " + Text.shortHex(signature[0]);
        });
        step("C_FindObjects, C_VerifyInit, C_Verify", () -> {
            key[1] = t.findOne(session, CKO_PUBLIC_KEY, keyLabel);
            Token.run("C_VerifyInit", () -> t.pkcs11.C_VerifyInit(session, signing[0].mechanism(), key[1]));
            Token.run("C_Verify", () -> t.pkcs11.C_Verify(session, signing[0].input(data), signature[0]));
            return "public key " + Text.handle(key[1]) + ": the signature is valid";
        });
        step("C_VerifyInit, C_Verify", () -> {
            byte[] altered = data.clone();
            altered[0] ^= 1;
            Token.run("C_VerifyInit", () -> t.pkcs11.C_VerifyInit(session, signing[0].mechanism(), key[1]));
            try {
                t.pkcs11.C_Verify(session, signing[0].input(altered), signature[0]);
            } catch (PKCS11Exception e) {
                if (e.getErrorCode() == CKR_SIGNATURE_INVALID) {
                    return "one bit of the data altered: " + returnValueName(e.getErrorCode())
                            + ", as it should be";
                }
                throw new DemoException("C_Verify", e);
            }
            throw new DemoException("the token accepted the signature for altered data");
        });
        step("C_Logout", () -> {
            Token.run("C_Logout", () -> t.pkcs11.C_Logout(session));
            return "user logged out";
        });
    }

    private static String stateName(long state) {
        if (state == CKS_RO_PUBLIC_SESSION) {
            return "CKS_RO_PUBLIC_SESSION";
        } else if (state == CKS_RO_USER_FUNCTIONS) {
            return "CKS_RO_USER_FUNCTIONS";
        } else if (state == CKS_RW_PUBLIC_SESSION) {
            return "CKS_RW_PUBLIC_SESSION";
        } else if (state == CKS_RW_USER_FUNCTIONS) {
            return "CKS_RW_USER_FUNCTIONS";
        } else if (state == CKS_RW_SO_FUNCTIONS) {
            return "CKS_RW_SO_FUNCTIONS";
        }
        return Long.toUnsignedString(state);
    }

    /** The data that 'road' signs when none is given. */
    static byte[] defaultData() {
        return "The road of one request".getBytes(StandardCharsets.UTF_8);
    }
}
