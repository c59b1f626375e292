package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.io.ByteArrayInputStream;
import java.nio.charset.StandardCharsets;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

import org.junit.jupiter.api.Test;

/**
 * The library against p11-kit's trust module, which presents the system's certificate store
 * (Debian's ca-certificates) as certificate objects. Every certificate's value is parsed by the
 * JDK, and the anchors that the library finds are what p11-kit's own `trust` tool lists.
 */
class RealTrustModuleTest {

    /** CKA_CERTIFICATE_CATEGORY of a certificate authority. */
    private static final long CATEGORY_AUTHORITY = 2;

    /** The anchors: certificates, trusted, of authorities. */
    private static final CK_ATTRIBUTE[] ANCHORS = RealModules.template(CKA_CLASS, CKO_CERTIFICATE, CKA_TRUSTED, true,
            CKA_CERTIFICATE_CATEGORY, CATEGORY_AUTHORITY);

    /**
     * CKA_CERTIFICATE_CATEGORY: a CK_ULONG that the library hands over as its native bytes (the
     * library reads only a fixed list of attribute types as Long).
     */
    private static long category(byte[] value) {
        assertNotNull(value);
        assertEquals(Platform.ULONG_SIZE, value.length, "a CK_ULONG");
        java.nio.ByteBuffer buffer = java.nio.ByteBuffer.wrap(value).order(java.nio.ByteOrder.nativeOrder());
        return Platform.ULONG_SIZE == 8 ? buffer.getLong() : Integer.toUnsignedLong(buffer.getInt());
    }

    /** A label's bytes (one per char, as the library gives them) read as UTF-8, as `trust` prints them. */
    private static String utf8(char[] label) {
        byte[] bytes = new byte[label.length];
        for (int i = 0; i < label.length; i++) {
            assertTrue(label[i] <= 0xFF, "one byte per char");
            bytes[i] = (byte) label[i];
        }
        return new String(bytes, StandardCharsets.UTF_8);
    }

    @Test
    void everyCertificateParsesAndTheAnchorsAreWhatTrustLists() throws Exception {
        RealModules.testDir();
        String trustTool = RealModules.trustTool();
        PKCS11Impl pkcs11 = new PKCS11Impl(RealModules.p11KitTrust());
        List<String> anchorLabels = new ArrayList<>();
        int certificates = 0;
        int templateAnchors = 0;
        try {
            pkcs11.C_Initialize(new CK_C_INITIALIZE_ARGS(CKF_OS_LOCKING_OK));
            long[] slots = pkcs11.C_GetSlotList(true);
            assertTrue(slots.length >= 1, "the trust module has a slot for the system store");
            CertificateFactory factory = CertificateFactory.getInstance("X.509");
            for (long slot : slots) {
                long session = pkcs11.C_OpenSession(slot, CKF_SERIAL_SESSION, null, null);
                try {
                    long[] found = RealModules.find(pkcs11, session, new CK_ATTRIBUTE(CKA_CLASS, CKO_CERTIFICATE));
                    for (long handle : found) {
                        CK_ATTRIBUTE[] values = RealModules.read(pkcs11, session, handle, CKA_VALUE, CKA_SUBJECT,
                                CKA_ISSUER, CKA_LABEL, CKA_TRUSTED, CKA_CERTIFICATE_CATEGORY, CKA_CERTIFICATE_TYPE);
                        byte[] der = values[0].getByteArray();
                        assertNotNull(der, "certificate " + handle + " has a value");
                        X509Certificate certificate = (X509Certificate) factory.generateCertificate(
                                new ByteArrayInputStream(der));
                        assertArrayEquals(certificate.getSubjectX500Principal().getEncoded(), values[1].getByteArray(),
                                "CKA_SUBJECT is the certificate's subject");
                        assertArrayEquals(certificate.getIssuerX500Principal().getEncoded(), values[2].getByteArray(),
                                "CKA_ISSUER is the certificate's issuer");
                        assertEquals(CKC_X_509, values[6].getLong());
                        certificates++;
                        if (Boolean.TRUE.equals(values[4].getBoolean())
                                && category(values[5].getByteArray()) == CATEGORY_AUTHORITY) {
                            anchorLabels.add(utf8(values[3].getCharArray()));
                        }
                    }
                    // The same anchors found by a template of three attributes of three classes.
                    long[] anchors = RealModules.find(pkcs11, session, ANCHORS);
                    assertTrue(anchors.length <= found.length);
                    templateAnchors += anchors.length;
                } finally {
                    pkcs11.C_CloseSession(session);
                }
            }
            assertEquals(anchorLabels.size(), templateAnchors, "a search template finds the anchors read one by one");
            pkcs11.C_Finalize(null);
        } finally {
            pkcs11.disconnect();
        }
        System.out.println(certificates + " certificates read, " + anchorLabels.size() + " anchors");
        assertTrue(certificates > 0, "the system store holds certificates (package ca-certificates)");

        RealModules.Result listed = RealModules.run(trustTool, "list", "--filter=ca-anchors");
        assertEquals(0, listed.status(), listed.err());
        long entries = listed.out().lines().filter(line -> line.startsWith("pkcs11:")).count();
        List<String> toolLabels = listed.out().lines().filter(line -> line.startsWith("    label: "))
                .map(line -> line.substring("    label: ".length())).sorted().toList();
        assertEquals(entries, anchorLabels.size(), "as many anchors as `trust list --filter=ca-anchors` reports");
        Collections.sort(anchorLabels);
        assertEquals(toolLabels, anchorLabels, "and the same ones, by label");
    }
}
