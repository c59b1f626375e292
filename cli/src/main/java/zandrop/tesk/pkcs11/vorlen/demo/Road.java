package zandrop.tesk.pkcs11.vorlen.demo;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.io.PrintStream;
import java.nio.charset.StandardCharsets;

import zandrop.tesk.pkcs11.vorlen.api.CK_INFO;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Impl;
import zandrop.tesk.pkcs11.vorlen.token.KeyObject;
import zandrop.tesk.pkcs11.vorlen.token.Mechanism;
import zandrop.tesk.pkcs11.vorlen.token.Pkcs11Module;
import zandrop.tesk.pkcs11.vorlen.token.Session;
import zandrop.tesk.pkcs11.vorlen.token.Token;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;
import zandrop.tesk.pkcs11.vorlen.token.TokenInfo;

/**
 * The road of one request: a program signs data with a key that it finds by its label, and
 * verifies the signature, printing each step as it happens with the PKCS #11 functions it
 * calls: open the module, choose the token, open a session, log in, find the key, sign, verify,
 * log out, close the session, close the module.
 *
 * <p>The module, the token and the session are the session layer's; the login and the logout
 * are raw calls on the session's handle, as a program that mixes both levels makes them.
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

    private void step(String functions, Step step) throws DemoException {
        number++;
        long started = System.nanoTime();
        String happened;
        try {
            happened = step.run();
        } catch (TokenException e) {
            print(functions, started, "FAILED");
            throw Commands.failed(e);
        } catch (DemoException | RuntimeException e) {
            print(functions, started, "FAILED");
            throw e;
        }
        print(functions, started, happened);
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
        Pkcs11Module[] module = new Pkcs11Module[1];
        step("connect, C_Initialize", () -> {
            module[0] = Commands.open(modulePath);
            return modulePath + " loaded and initialised, CKF_OS_LOCKING_OK";
        });
        Pkcs11Module m = module[0];
        try {
            step("C_GetInfo", () -> {
                CK_INFO info = m.info();
                return Text.chars(info.manufacturerID) + " " + Text.chars(info.libraryDescription) + " "
                        + Text.version(info.libraryVersion) + ", Cryptoki " + Text.version(info.cryptokiVersion);
            });
            Token[] token = new Token[1];
            step("C_GetSlotList, C_GetTokenInfo", () -> {
                token[0] = Commands.chooseToken(m, slotOption, tokenLabel);
                TokenInfo info = token[0].info();
                return "slot " + Text.handle(token[0].slotId()) + ": token \"" + info.label() + "\", serial "
                        + info.serial();
            });
            Session[] session = new Session[1];
            step("C_OpenSession", () -> {
                session[0] = token[0].openSession(false);
                return "session " + Text.handle(session[0].handle()) + ", read-only";
            });
            walkSession(m.pkcs11(), token[0], session[0], pin, keyLabel, data);
            step("C_CloseSession", () -> {
                session[0].close();
                return "session " + Text.handle(session[0].handle()) + " closed";
            });
            step("C_Finalize, disconnect", () -> {
                m.close();
                return "the module released its resources and was unloaded";
            });
        } finally {
            // After a failure: finalising the module closes the session and logs the user out.
            // Closing a closed module does nothing.
            m.close();
        }
        out.println();
        out.println(String.format("The request took %.1f ms.", (System.nanoTime() - started) / 1e6));
    }

    private void walkSession(PKCS11Impl pkcs11, Token token, Session session, String pin, String keyLabel,
            byte[] data) throws DemoException {
        long handle = session.handle();
        step("C_Login, C_GetSessionInfo", () -> {
            Commands.raw("C_Login", () -> pkcs11.C_Login(handle, CKU_USER, pin.toCharArray()));
            return "user logged in: " + session.info();
        });
        KeyObject[] key = new KeyObject[2];
        Mechanism[] mechanism = new Mechanism[1];
        step("C_FindObjects*, C_GetAttributeValue", () -> {
            key[0] = Commands.findKey(session, CKO_PRIVATE_KEY, keyLabel);
            mechanism[0] = Commands.signing(token, key[0]);
            return "private key \"" + keyLabel + "\": handle " + Text.handle(key[0].handle()) + ", "
                    + Text.keyType(key[0].keyType());
        });
        byte[][] signature = new byte[1][];
        step("C_SignInit, C_Sign", () -> {
            signature[0] = session.sign(mechanism[0], key[0], data);
            return Commands.describe(token, mechanism[0]) + ": " + Text.shortHex(signature[0]);
        });
        step("C_FindObjects, C_VerifyInit, C_Verify", () -> {
            key[1] = Commands.findKey(session, CKO_PUBLIC_KEY, keyLabel);
            if (!session.verify(mechanism[0], key[1], data, signature[0])) {
                throw new DemoException("the token rejected its own signature");
            }
            return "public key " + Text.handle(key[1].handle()) + ": the signature is valid";
        });
        step("C_VerifyInit, C_Verify", () -> {
            byte[] altered = data.clone();
            altered[0] ^= 1;
            if (session.verify(mechanism[0], key[1], altered, signature[0])) {
                throw new DemoException("the token accepted the signature for altered data");
            }
            return "one bit of the data altered: " + returnValueName(CKR_SIGNATURE_INVALID) + ", as it should be";
        });
        step("C_Logout", () -> {
            Commands.raw("C_Logout", () -> pkcs11.C_Logout(handle));
            return "user logged out";
        });
    }

    /** The data that 'road' signs when none is given. */
    static byte[] defaultData() {
        return "The road of one request".getBytes(StandardCharsets.UTF_8);
    }
}
