package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.regex.Pattern;
import java.util.stream.Collectors;

import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.token.Pkcs11Uri;

/**
 * PKCS#11 URIs against two oracles: libp11-kit's own parser and formatter (a small program of
 * the test tree, testmodule/uri) on the RFC 7512 examples and tricky cases, and GnuTLS's
 * p11tool listing a SoftHSM2 token (registered with p11-kit) and its objects.
 */
class RealUriTest {

    /** RFC 7512's examples (section 3) and cases at the edges of the grammar; both accept them. */
    private static final List<String> ACCEPTED = List.of(
            "pkcs11:",
            "pkcs11:object=my-pubkey;type=public",
            "pkcs11:object=my-key;type=private?pin-source=file:/etc/token",
            "pkcs11:token=The%20Software%20PKCS%2311%20Softtoken;manufacturer=Snake%20Oil,%20Inc.;model=1.0;"
                    + "object=my-certificate;type=cert;id=%69%95%3E%5C%F4%BD%EC%91;serial=?pin-source=file:/etc/token_pin",
            "pkcs11:object=my-sign-key;type=private?module-name=mypkcs11",
            "pkcs11:object=my-sign-key;type=private?module-path=/mnt/libmypkcs11.so.1",
            "pkcs11:token=Software%20PKCS%2311%20softtoken;manufacturer=Snake%20Oil,%20Inc.?pin-value=the-pin",
            "pkcs11:slot-description=Sun%20Metaslot",
            "pkcs11:library-manufacturer=Snake%20Oil,%20Inc.;library-description=Soft%20Token%20Library;library-version=1.23",
            "pkcs11:token=My%20token%25%20created%20by%20Joe;library-version=3;id=%69%95%3E%5C%F4%BD%EC%91;"
                    + "object=my-certificate;type=cert?pin-source=file:/etc/token",
            "pkcs11:token=A%20name%20with%20a%20substring%20%25%3B;object=my-certificate;type=cert",
            "pkcs11:token=Name%20with%20a%20small%20A%20with%20acute:%20%C3%A1;object=my-certificate;type=cert",
            "pkcs11:token=my-token;object=my-certificate;type=cert;vendor-aaa=value-a?pin-source=file:/etc/token"
                    + "&vendor-bbb=value-b",
            "PKCS11:token=&!$'()*+,=:@[]~;object=;id=;type=secret-key",
            "pkcs11:slot-id=4294967295;slot-manufacturer=m%e9;model=%09x;type=data?x-q=a/b?c|d&pin-value=%26%3B",
            "pkcs11:x-a=1;serial=42?module-name=a%20b&module-path=C:%5Cdir%5Cp11.dll");

    /** Malformed for both. */
    private static final List<String> REFUSED = List.of(
            "pkcs11", "http:token=a", "pkcs11:token", "pkcs11:token=%4", "pkcs11:id=%G0", "pkcs11:token=a?b?c",
            "pkcs11:library-version=1.2.3", "pkcs11:library-version=256", "pkcs11:library-version=x",
            "pkcs11:slot-id=abc");

    /**
     * Malformed by RFC 7512's grammar, but p11-kit takes them (dropping the blank, keeping the
     * last of two, ignoring the empty attribute, taking ';' in the query, ignoring the unknown
     * type): this class refuses them.
     */
    private static final List<String> STRICTER = List.of(
            "pkcs11:token=a b", "pkcs11:token=a;token=b", "pkcs11:token=a;", "pkcs11:?pin-source=a;b",
            "pkcs11:type=key");

    /**
     * The attributes that p11-kit keeps in the blank-padded fields of CK_INFO, CK_SLOT_INFO and
     * CK_TOKEN_INFO, and the fields' widths. A longer value (RFC 7512's own example of a label
     * with an accent is 35 bytes long) p11-kit drops as unrecognized; this class keeps it, and
     * it matches no token either.
     */
    private static final Map<String, Integer> PADDED = Map.of("library-description", 32, "library-manufacturer", 32,
            "slot-description", 64, "slot-manufacturer", 32, "model", 16, "manufacturer", 32, "serial", 16, "token", 32);

    private static boolean tooLong(Pkcs11Uri uri, String name) {
        return PADDED.containsKey(name) && uri.value(name) != null && uri.value(name).length > PADDED.get(name);
    }

    private static final List<String> VENDOR_QUERY = List.of("vendor-bbb", "x-q");

    private static List<String> p11kit(List<String> uris) {
        List<String> command = new ArrayList<>();
        String emulator = System.getProperty("vorlen.real.p11kituri.emulator", "");
        if (!emulator.isEmpty()) {
            command.addAll(Arrays.asList(emulator.split("\\|")));
        }
        command.add(RealModules.path("vorlen.real.p11kituri", "libp11-kit-dev"));
        command.addAll(uris);
        RealModules.Result result = RealModules.run(command,
                Map.of("VORLEN_VENDOR_QUERY", String.join(",", VENDOR_QUERY)), false);
        assertEquals(0, result.status(), result.err());
        List<String> lines = result.out().lines().collect(Collectors.toList());
        assertEquals(uris.size(), lines.size(), result.out());
        return lines;
    }

    /** What the URI holds, in the form the libp11-kit program prints. */
    private static String fields(Pkcs11Uri uri) {
        List<String> fields = new ArrayList<>();
        for (String name : List.of("library-description", "library-manufacturer", "library-version",
                "slot-description", "slot-manufacturer", "slot-id", "model", "manufacturer", "serial", "token",
                "id", "object", "type", "pin-source", "pin-value", "module-name", "module-path")) {
            byte[] value = uri.value(name);
            if (value == null || tooLong(uri, name)) {
                continue;
            }
            String shown;
            if (name.equals("library-version")) {
                shown = uri.libraryVersion().major + "." + uri.libraryVersion().minor;
            } else if (name.equals("type") || name.equals("slot-id")) {
                shown = new String(value, StandardCharsets.US_ASCII);
            } else {
                if (PADDED.containsKey(name)) {
                    // a padded field of a record: p11-kit keeps no trailing blanks
                    value = new String(value, StandardCharsets.ISO_8859_1).replaceFirst(" +\\z", "").getBytes(StandardCharsets.ISO_8859_1);
                }
                shown = HexFormat.of().withUpperCase().formatHex(value);
            }
            fields.add(name + "=" + shown);
        }
        for (String name : VENDOR_QUERY) {
            byte[] value = uri.value(name);
            if (value != null && uri.vendorQueryAttributes().containsKey(name)) {
                fields.add("query:" + name + "=" + HexFormat.of().withUpperCase().formatHex(value));
            }
        }
        if (uri.hasUnknownPathAttributes() || PADDED.keySet().stream().anyMatch(name -> tooLong(uri, name))) {
            fields.add("unrecognized");
        }
        return String.join(";", fields);
    }

    /** p11-kit's text with '/' unencoded in module-path and pin-source, as this class writes it. */
    private static String slashesInFileNames(String text) {
        int query = text.indexOf('?');
        if (query < 0) {
            return text;
        }
        return text.substring(0, query + 1) + Arrays.stream(text.substring(query + 1).split("&"))
                .map(a -> a.startsWith("module-path=") || a.startsWith("pin-source=") ? a.replace("%2F", "/") : a)
                .collect(Collectors.joining("&"));
    }

    @Test
    void parseAndFormatAgreeWithLibP11Kit() {
        List<String> inputs = new ArrayList<>(ACCEPTED);
        inputs.addAll(REFUSED);
        inputs.addAll(STRICTER);
        List<String> theirs = p11kit(inputs);
        List<String> ourTexts = new ArrayList<>();
        for (int i = 0; i < ACCEPTED.size(); i++) {
            String[] line = theirs.get(i).split("\t", -1);
            assertEquals("OK", line[0], ACCEPTED.get(i) + ": " + theirs.get(i));
            Pkcs11Uri uri = Pkcs11Uri.parse(ACCEPTED.get(i));
            assertEquals(line[2], fields(uri), "the same attributes and values: " + ACCEPTED.get(i));
            // p11-kit formats no path attribute it does not know or drops.
            Pkcs11Uri.Builder known = uri.toBuilder();
            uri.vendorPathAttributes().keySet().forEach(known::remove);
            PADDED.keySet().stream().filter(name -> tooLong(uri, name)).forEach(known::remove);
            assertEquals(slashesInFileNames(line[1]), known.build().toString(), "p11-kit's text: " + ACCEPTED.get(i));
            ourTexts.add(uri.toString());
            assertEquals(uri, Pkcs11Uri.parse(uri.toString()));
        }
        for (int i = ACCEPTED.size(); i < inputs.size(); i++) {
            String input = inputs.get(i);
            boolean stricter = i >= ACCEPTED.size() + REFUSED.size();
            assertTrue(theirs.get(i).startsWith(stricter ? "OK" : "ERR "), input + ": " + theirs.get(i));
            assertThrows(IllegalArgumentException.class, () -> Pkcs11Uri.parse(input), input);
        }
        // What this class formats, p11-kit parses to the same.
        List<String> reparsed = p11kit(ourTexts);
        for (int i = 0; i < ourTexts.size(); i++) {
            String[] line = reparsed.get(i).split("\t", -1);
            assertEquals("OK", line[0], ourTexts.get(i));
            assertEquals(fields(Pkcs11Uri.parse(ourTexts.get(i))), line[2], ourTexts.get(i));
        }
    }

    // ---- p11tool

    private static final Pattern URL = Pattern.compile("^\\s*URL: (pkcs11:\\S*)$", Pattern.MULTILINE);

    private static List<String> p11tool(String... arguments) {
        List<String> command = new ArrayList<>(List.of(RealModules.path("vorlen.real.p11tool", "gnutls-bin")));
        command.addAll(List.of(arguments));
        RealModules.Result result = RealModules.run(command, Map.of(), false);
        assertEquals(0, result.status(), "p11tool " + String.join(" ", arguments) + ": " + result.err());
        return URL.matcher(result.out()).results().map(match -> match.group(1)).toList();
    }

    private static String utf8(char[] bytes) {
        return bytes == null ? null : new String(new String(bytes).getBytes(StandardCharsets.ISO_8859_1), StandardCharsets.UTF_8);
    }

    private static byte[] utf8(String text) {
        return text.getBytes(StandardCharsets.UTF_8);
    }

    @Test
    void tokenAndObjectUrisAreP11toolsAndSelectTheSameToken() throws Exception {
        // A label in UTF-8 with characters that need encoding; the library passes one byte per char.
        String label = "uri t\u00f6k/;%&~";
        try (RealModules.SoftHsmLogin login = RealModules.SoftHsmLogin.open(
                new String(utf8(label), StandardCharsets.ISO_8859_1))) {
            PKCS11Impl pkcs11 = login.pkcs11;
            long session = login.session;
            CK_ATTRIBUTE[] named = RealModules.template(CKA_TOKEN, true, CKA_LABEL, utf8("k 1%/\u00e9"), CKA_ID, new byte[] {1, -1, 0x7E});
            pkcs11.C_GenerateKeyPair(session, new CK_MECHANISM(CKM_EC_KEY_PAIR_GEN),
                    RealModules.concat(named, new CK_ATTRIBUTE(CKA_EC_PARAMS, RealModules.P256_PARAMS)),
                    RealModules.concat(named, new CK_ATTRIBUTE(CKA_PRIVATE, true)));
            pkcs11.C_GenerateKey(session, new CK_MECHANISM(CKM_AES_KEY_GEN),
                    RealModules.template(CKA_TOKEN, true, CKA_VALUE_LEN, 16L, CKA_ID, new byte[] {10}));
            pkcs11.C_CreateObject(session, RealModules.template(CKA_CLASS, CKO_DATA, CKA_TOKEN, true, CKA_PRIVATE, false,
                    CKA_LABEL, utf8("d~1&;"), CKA_VALUE, new byte[] {1}));

            CK_TOKEN_INFO info = pkcs11.C_GetTokenInfo(login.slot);
            Pkcs11Uri ours = Pkcs11Uri.forToken(info);
            assertEquals(label, ours.token());
            List<String> tokens = p11tool("--list-tokens");
            List<String> matching = tokens.stream().filter(url -> Pkcs11Uri.parse(url).matchesToken(info))
                    .collect(Collectors.toList());
            assertEquals(List.of(ours.toString()), matching, "p11tool lists the token by this URI, and no other "
                    + "of its tokens (" + tokens + ") matches it");

            long[] handles = RealModules.find(pkcs11, session);
            List<String> objects = p11tool("--list-all", "--login", "--set-pin", RealSoftHsmToken.USER_PIN, ours.toString());
            assertEquals(4, handles.length);
            assertEquals(handles.length, objects.size(), "p11tool lists every object: " + objects);
            for (String url : objects) {
                Pkcs11Uri uri = Pkcs11Uri.parse(url);
                assertTrue(uri.matchesToken(info), url);
                List<String> selected = new ArrayList<>();
                for (long handle : handles) {
                    CK_ATTRIBUTE[] values = RealModules.read(pkcs11, session, handle, CKA_CLASS, CKA_LABEL);
                    long objectClass = values[0].getLong();
                    String objectLabel = utf8(values[1].getCharArray());
                    // A data object has no CKA_ID.
                    byte[] id = objectClass == CKO_DATA ? null : RealModules.bytes(pkcs11, session, handle, CKA_ID);
                    if (uri.matchesObject(objectClass, objectLabel, id)) {
                        selected.add(ours.withObject(objectClass, objectLabel, id).toString());
                    }
                }
                assertEquals(List.of(url), selected, "the URI selects one object, whose URI this class formats as p11tool");
            }
        }
    }
}
