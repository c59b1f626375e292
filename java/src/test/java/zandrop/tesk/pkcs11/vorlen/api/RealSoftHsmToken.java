package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

/**
 * A fresh SoftHSM2 token, initialised through the library alone: C_InitToken, C_InitPIN by the
 * security officer, C_SetPIN by the user, and the logins and logouts between them, each checked
 * against the state the module reports.
 */
final class RealSoftHsmToken {
    static final String SO_PIN = "so-pin-8642";
    static final String FIRST_USER_PIN = "1357";
    static final String USER_PIN = "user-pin-2468";

    private RealSoftHsmToken() {
    }

    /** The slot whose token has the label, or -1. */
    static long slotOf(PKCS11Impl pkcs11, String label) throws PKCS11Exception {
        for (long slot : pkcs11.C_GetSlotList(true)) {
            if (new String(pkcs11.C_GetTokenInfo(slot).label).stripTrailing().equals(label)) {
                return slot;
            }
        }
        return -1;
    }

    /**
     * Initialises the one free token of the test's SoftHSM2 token folder through a connection of
     * its own, which it closes again: for the layers above PKCS11Impl, which open the module
     * themselves. Returns the token's slot as a new C_Initialize finds it (SoftHSM2 numbers the
     * slots anew when it reads its token folder).
     */
    static long initialiseAlone(String label) throws PKCS11Exception, java.io.IOException {
        RealModules.testDir();  // SOFTHSM2_CONF names the test folder's tokens, never the user's
        PKCS11Impl raw = new PKCS11Impl(RealModules.softHsm2());
        try {
            raw.C_Initialize(new CK_C_INITIALIZE_ARGS(CKF_OS_LOCKING_OK));
            initialise(raw, label);
            raw.C_Finalize(null);
            raw.C_Initialize(new CK_C_INITIALIZE_ARGS(CKF_OS_LOCKING_OK));
            long slot = requireSlot(raw, label);
            raw.C_Finalize(null);
            return slot;
        } finally {
            raw.disconnect();
        }
    }

    /**
     * Initialises the one free token of a fresh SoftHSM2 token folder and sets its PINs; returns
     * the token's slot. The module must be initialised; no session is left open.
     */
    static long initialise(PKCS11Impl pkcs11, String label) throws PKCS11Exception {
        long[] slots = pkcs11.C_GetSlotList(true);
        assertEquals(1, slots.length, "a fresh token folder: one slot, holding a free token");
        CK_TOKEN_INFO free = pkcs11.C_GetTokenInfo(slots[0]);
        assertEquals(0, free.flags & CKF_TOKEN_INITIALIZED, "the token is not initialised yet");

        pkcs11.C_InitToken(slots[0], SO_PIN.toCharArray(), label.toCharArray());
        // SoftHSM2 gives an initialised token a slot of its own and a new free token.
        long slot = slotOf(pkcs11, label);
        assertTrue(slot != -1, "the token's label, padded by the library, reads back");
        CK_TOKEN_INFO info = pkcs11.C_GetTokenInfo(slot);
        assertEquals(32, info.label.length);
        assertTrue((info.flags & CKF_TOKEN_INITIALIZED) != 0);
        assertEquals(0, info.flags & CKF_USER_PIN_INITIALIZED, "no user PIN yet");
        assertEquals(2, pkcs11.C_GetSlotList(true).length, "and a new free token");

        long session = pkcs11.C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, null, null);
        try {
            assertEquals(CKS_RW_PUBLIC_SESSION, pkcs11.C_GetSessionInfo(session).state);
            PKCS11Exception wrong = assertThrows(PKCS11Exception.class,
                    () -> pkcs11.C_Login(session, CKU_SO, "not-the-pin".toCharArray()));
            assertEquals(CKR_PIN_INCORRECT, wrong.getErrorCode());

            pkcs11.C_Login(session, CKU_SO, SO_PIN.toCharArray());
            assertEquals(CKS_RW_SO_FUNCTIONS, pkcs11.C_GetSessionInfo(session).state);
            pkcs11.C_InitPIN(session, FIRST_USER_PIN.toCharArray());
            pkcs11.C_Logout(session);
            assertEquals(CKS_RW_PUBLIC_SESSION, pkcs11.C_GetSessionInfo(session).state);
            assertTrue((pkcs11.C_GetTokenInfo(slot).flags & CKF_USER_PIN_INITIALIZED) != 0);

            pkcs11.C_Login(session, CKU_USER, FIRST_USER_PIN.toCharArray());
            assertEquals(CKS_RW_USER_FUNCTIONS, pkcs11.C_GetSessionInfo(session).state);
            pkcs11.C_SetPIN(session, FIRST_USER_PIN.toCharArray(), USER_PIN.toCharArray());
            pkcs11.C_Logout(session);

            PKCS11Exception old = assertThrows(PKCS11Exception.class,
                    () -> pkcs11.C_Login(session, CKU_USER, FIRST_USER_PIN.toCharArray()));
            assertEquals(CKR_PIN_INCORRECT, old.getErrorCode(), "the old PIN no longer opens the token");
            pkcs11.C_Login(session, CKU_USER, USER_PIN.toCharArray());
            pkcs11.C_Logout(session);
            assertEquals(CKS_RW_PUBLIC_SESSION, pkcs11.C_GetSessionInfo(session).state);
        } finally {
            pkcs11.C_CloseSession(session);
        }
        assertFalse((pkcs11.C_GetTokenInfo(slot).flags & CKF_USER_PIN_TO_BE_CHANGED) != 0);
        return slot;
    }

    /** Fails unless the token exists. */
    static long requireSlot(PKCS11Impl pkcs11, String label) throws PKCS11Exception {
        long slot = slotOf(pkcs11, label);
        if (slot == -1) {
            fail("no token labelled " + label);
        }
        return slot;
    }
}
