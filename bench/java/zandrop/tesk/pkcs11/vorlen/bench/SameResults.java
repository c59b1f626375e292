package zandrop.tesk.pkcs11.vorlen.bench;

import java.util.Arrays;
import java.util.Objects;

import zandrop.tesk.pkcs11.vorlen.api.CK_ATTRIBUTE;
import zandrop.tesk.pkcs11.vorlen.api.CK_SESSION_INFO;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Impl;

/** Before it is measured, the floor must give the library's results: same types, same values. */
final class SameResults {
    private SameResults() {
    }

    static void check(PKCS11Impl pkcs11, Floor floor) throws Exception {
        CK_SESSION_INFO a = pkcs11.C_GetSessionInfo(1);
        CK_SESSION_INFO b = floor.sessionInfo(1);
        same("C_GetSessionInfo", new long[] {a.slotID, a.state, a.flags, a.ulDeviceError},
                new long[] {b.slotID, b.state, b.flags, b.ulDeviceError});
        byte[] r1 = new byte[32];
        byte[] r2 = new byte[32];
        pkcs11.C_GenerateRandom(1, r1);
        floor.random(1, r2);
        same("C_GenerateRandom32", r1, r2);
        same("C_Sign32", pkcs11.C_Sign(1, new byte[32]), floor.sign(1, new byte[32]));
        same("C_FindObjects100", pkcs11.C_FindObjects(1, 100), floor.findObjects(1, 100));
        CK_ATTRIBUTE[] t1 = Workloads.attributeTemplate();
        CK_ATTRIBUTE[] t2 = Workloads.attributeTemplate();
        pkcs11.C_GetAttributeValue(1, 2, t1);
        floor.attributes(1, 2, t2);
        for (int i = 0; i < t1.length; i++) {
            Object x = t1[i].pValue;
            Object y = t2[i].pValue;
            if (t1[i].type != t2[i].type || x == null || y == null || x.getClass() != y.getClass()
                    || !Objects.deepEquals(x, y)) {
                throw new IllegalStateException("C_GetAttributeValue5: the floor gives " + t2[i] + ", the library " + t1[i]);
            }
        }
    }

    private static void same(String workload, Object library, Object floor) {
        if (!Objects.deepEquals(library, floor)) {
            throw new IllegalStateException(workload + ": the floor gives " + Arrays.deepToString(new Object[] {floor})
                    + ", the library " + Arrays.deepToString(new Object[] {library}));
        }
    }
}
