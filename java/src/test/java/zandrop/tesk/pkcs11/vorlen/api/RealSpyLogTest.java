package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.security.Signature;
import java.security.spec.MGF1ParameterSpec;
import java.security.spec.PSSParameterSpec;
import java.util.ArrayList;
import java.util.HexFormat;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

import org.junit.jupiter.api.Test;

/**
 * SoftHSM2 behind OpenSC's pkcs11-spy.so (only in the ".spy" registration): the spy's log shows
 * what the module received, which must be what Java passed, for one call of each shape: a
 * template, a mechanism with a parameter record, and a size query followed by the output call.
 * Connecting took the module's default interface, then its 2.x function list, and nothing else.
 */
class RealSpyLogTest {
    private static final HexFormat HEX = HexFormat.of().withUpperCase();
    /** The spy's hex dump: an offset, up to 16 bytes, the characters. */
    private static final Pattern DUMP = Pattern.compile("^\\s+[0-9A-F]{8}  ((?:[0-9A-F]{2} ?)+)");
    /** The spy's dump of a text value: groups of hex digits, then a line of the characters. */
    private static final Pattern GROUPED = Pattern.compile("^\\s+((?:[0-9A-F]{2})+(?: (?:[0-9A-F]{2})+)*)\\s*$");

    @Test
    void whatTheModuleReceivedIsWhatJavaPassed() throws Exception {
        byte[] value = {(byte) 0xde, (byte) 0xad, 0x00, (byte) 0xbe, (byte) 0xef};
        byte[] iv = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
        byte[] aad = "header".getBytes(StandardCharsets.US_ASCII);
        byte[] plain = "seventeen bytes!!".getBytes(StandardCharsets.US_ASCII);
        byte[] cipher;
        byte[] signature;
        try (RealModules.SoftHsmLogin login = RealModules.SoftHsmLogin.open("spied on")) {
            PKCS11Impl pkcs11 = login.pkcs11;
            long session = login.session;
            assertEquals(2, pkcs11.getInterfaceVersion().major, "the spy over SoftHSM2 offers a 2.x list");
            pkcs11.C_CreateObject(session, RealModules.template(CKA_CLASS, CKO_DATA, CKA_TOKEN, false,
                    CKA_LABEL, "spied label".toCharArray(), CKA_VALUE, value));
            long aes = pkcs11.C_GenerateKey(session, new CK_MECHANISM(CKM_AES_KEY_GEN),
                    RealModules.template(CKA_VALUE_LEN, 16L, CKA_TOKEN, false, CKA_ENCRYPT, true));
            pkcs11.C_EncryptInit(session, new CK_MECHANISM(CKM_AES_GCM, new CK_GCM_PARAMS(iv, 96, aad, 112)), aes);
            cipher = pkcs11.C_Encrypt(session, plain);
            long[] rsa = pkcs11.C_GenerateKeyPair(session, new CK_MECHANISM(CKM_RSA_PKCS_KEY_PAIR_GEN),
                    RealModules.template(CKA_TOKEN, false, CKA_MODULUS_BITS, 1024L, CKA_VERIFY, true),
                    RealModules.template(CKA_TOKEN, false, CKA_SIGN, true));
            pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_SHA256_RSA_PKCS_PSS,
                    new CK_RSA_PKCS_PSS_PARAMS(CKM_SHA256, CKG_MGF1_SHA256, 17)), rsa[1]);
            signature = pkcs11.C_Sign(session, value);
            Signature jdk = Signature.getInstance("RSASSA-PSS");
            jdk.setParameter(new PSSParameterSpec("SHA-256", "MGF1", MGF1ParameterSpec.SHA256, 17, 1));
            assertTrue(RealModules.verifies(jdk, RealModules.rsaPublicKey(pkcs11, session, rsa[0]), value, signature),
                    "the JDK accepts the signature made through the spy");
        }
        List<List<String>> log = records(Files.readAllLines(RealModules.spyLog(), StandardCharsets.ISO_8859_1));

        // connect: the default interface, then the 2.x list; the interface list is never asked for.
        assertEquals(List.of("C_GetInterface", "C_GetFunctionList", "C_Initialize"),
                log.subList(0, 3).stream().map(r -> r.get(0)).toList());
        assertTrue(log.get(0).contains("[in] pVersion = NULL"), String.join("\n", log.get(0)));
        assertTrue(log.stream().noneMatch(r -> r.get(0).equals("C_GetInterfaceList")));

        // A template: each attribute's type, and its value as bytes (the label one byte per char).
        List<String> create = last(log, "C_CreateObject");
        assertLine(create, "[in] pTemplate[4]:");
        assertLine(create, "CKA_CLASS CKO_DATA");
        assertLine(create, "CKA_TOKEN False");
        assertEquals("7370696564206C6162656C", dumped(create, "CKA_LABEL", 11));
        assertEquals(HEX.formatHex(value), dumped(create, "CKA_VALUE", value.length));

        // Mechanisms with a parameter record: every member of CK_GCM_PARAMS and CK_RSA_PKCS_PSS_PARAMS.
        List<String> gcm = last(log, "C_EncryptInit");
        assertLine(gcm, "[in] pMechanism->type = CKM_AES_GCM");
        assertEquals(HEX.formatHex(iv), dumped(gcm, "[in] pMechanism->pParameter->pIv[ulIvLen]", iv.length));
        assertLine(gcm, "[in] pMechanism->pParameter->ulIvBits = 0x60");
        assertEquals(HEX.formatHex(aad), dumped(gcm, "[in] pMechanism->pParameter->pAAD[ulAADLen]", aad.length));
        assertLine(gcm, "[in] pMechanism->pParameter->ulTagBits = 112");
        List<String> pss = last(log, "C_SignInit");
        assertLine(pss, "[in] pMechanism->type = CKM_SHA256_RSA_PKCS_PSS");
        assertLine(pss, "[in] pMechanism->pParameter->hashAlg = CKM_SHA256");
        assertLine(pss, "[in] pMechanism->pParameter->mgf = CKG_MGF1_SHA256");
        assertLine(pss, "[in] pMechanism->pParameter->sLen = 17");

        // A size query (a NULL output and the length it reports), then the call whose output Java got.
        List<List<String>> encrypts = log.stream().filter(r -> r.get(0).equals("C_Encrypt")).toList();
        assertEquals(2, encrypts.size(), "one size query and one call");
        assertEquals(HEX.formatHex(plain), dumped(encrypts.get(0), "[in] pData[ulDataLen]", plain.length));
        assertLine(encrypts.get(0), "[out] pEncryptedData[*pulEncryptedDataLen] NULL [size : 0x"
                + Integer.toHexString(cipher.length).toUpperCase() + " (" + cipher.length + ")]");
        assertEquals(HEX.formatHex(plain), dumped(encrypts.get(1), "[in] pData[ulDataLen]", plain.length));
        assertEquals(HEX.formatHex(cipher),
                dumped(encrypts.get(1), "[out] pEncryptedData[*pulEncryptedDataLen]", cipher.length));
        assertEquals(HEX.formatHex(signature),
                dumped(last(log, "C_Sign"), "[out] pSignature[*pulSignatureLen]", signature.length));
    }

    /** The log as records: the function's name first, then the record's lines, trimmed at the end. */
    private static List<List<String>> records(List<String> lines) {
        Pattern start = Pattern.compile("^\\d+: (C_\\w+)$");
        List<List<String>> records = new ArrayList<>();
        List<String> current = null;
        for (String line : lines) {
            Matcher m = start.matcher(line);
            if (m.matches()) {
                current = new ArrayList<>(List.of(m.group(1)));
                records.add(current);
            } else if (current != null) {
                current.add(line.stripTrailing());
            }
        }
        return records;
    }

    private static List<String> last(List<List<String>> log, String function) {
        return log.stream().filter(r -> r.get(0).equals(function)).reduce((earlier, later) -> later)
                .orElseGet(() -> fail("the spy logged no " + function));
    }

    /** A line of the record, its runs of spaces counted as one. */
    private static void assertLine(List<String> record, String expected) {
        assertTrue(record.stream().anyMatch(l -> l.trim().replaceAll(" +", " ").equals(expected)),
                "no line \"" + expected + "\" in\n" + String.join("\n", record));
    }

    /**
     * The bytes the spy dumped under the line that starts with `header` (and ends with "/ length"),
     * as upper-case hex.
     */
    private static String dumped(List<String> record, String header, int length) {
        for (int i = 1; i < record.size(); i++) {
            String line = record.get(i).trim();
            if (!line.startsWith(header)) {
                continue;
            }
            assertTrue(line.endsWith(" / " + length), "the length the module received: " + line);
            StringBuilder hex = new StringBuilder();
            for (int j = i + 1; j < record.size(); j++) {
                Matcher dump = DUMP.matcher(record.get(j));
                Matcher grouped = GROUPED.matcher(record.get(j));
                if (dump.lookingAt()) {
                    hex.append(dump.group(1).replace(" ", ""));
                } else if (grouped.matches()) {
                    hex.append(grouped.group(1).replace(" ", ""));
                    j++;  // the line of characters under it
                } else {
                    break;
                }
            }
            return hex.toString();
        }
        return fail("no line starting \"" + header + "\" in\n" + String.join("\n", record));
    }
}
