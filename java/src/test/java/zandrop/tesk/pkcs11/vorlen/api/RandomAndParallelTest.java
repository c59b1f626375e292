package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;

/** Seeding and generating random data, and the legacy parallel-function stubs. */
class RandomAndParallelTest extends ConnectedToTestModule {

    @Test
    void generateRandomFillsTheCallersArrayForExactlyItsLength() throws Exception {
        byte[] random = new byte[32];
        pkcs11.C_GenerateRandom(HIGH | 3, random);
        Call call = module.last("C_GenerateRandom");
        assertEquals(32, call.num("ulRandomLen"));
        assertEquals(Platform.ulong(HIGH | 3), call.num("hSession"));
        assertArrayEquals(Platform.counting(32, 0, 1), random, "the module's bytes");

        pkcs11.C_GenerateRandom(1, new byte[0]);
        assertEquals(0, module.last("C_GenerateRandom").num("ulRandomLen"));
        assertEquals(2, module.count("C_GenerateRandom"));
    }

    @Test
    void whatTheModuleWroteStaysAlsoWhenItFails() throws Exception {
        byte[] random = new byte[4];
        module.script("C_GenerateRandom", "out=deadbeef rv=" + CKR_DEVICE_ERROR);
        assertError(CKR_DEVICE_ERROR, () -> pkcs11.C_GenerateRandom(1, random));
        assertArrayEquals(new byte[] {(byte) 0xDE, (byte) 0xAD, (byte) 0xBE, (byte) 0xEF}, random);

        byte[] partly = new byte[6];
        module.script("C_GenerateRandom", "out=0102 rv=" + CKR_RANDOM_NO_RNG);
        assertThrows(PKCS11Exception.class, () -> pkcs11.C_GenerateRandom(1, partly));
        assertArrayEquals(new byte[] {1, 2, 0, 0, 0, 0}, partly, "the elements the module did not write stay");
    }

    @Test
    void aNullRandomArrayIsRefusedBeforeTheModule() {
        assertMessage(NullPointerException.class, "RandomData", () -> pkcs11.C_GenerateRandom(1, null));
        assertEquals(0, module.count("C_GenerateRandom"));
    }

    @Test
    void seedRandomPassesItsBytesOrANullPointer() throws Exception {
        byte[] seed = new byte[1000];
        seed[999] = 42;
        pkcs11.C_SeedRandom(HIGH | 1, seed);
        Call call = module.last("C_SeedRandom");
        assertArrayEquals(seed, call.bytes("pSeed"));
        assertEquals(1000, call.num("ulSeedLen"));
        assertEquals(Platform.ulong(HIGH | 1), call.num("hSession"));

        pkcs11.C_SeedRandom(1, null);
        assertNullOfLengthZero(module.last("C_SeedRandom"), "pSeed", "ulSeedLen");

        assertModuleError("C_SeedRandom", CKR_RANDOM_SEED_NOT_SUPPORTED, () -> pkcs11.C_SeedRandom(1, seed));
    }

    @Test
    void theParallelFunctionsAnswerFunctionNotParallel() throws Exception {
        assertError(CKR_FUNCTION_NOT_PARALLEL, () -> pkcs11.C_GetFunctionStatus(HIGH | 7));
        assertEquals(Platform.ulong(HIGH | 7), module.last("C_GetFunctionStatus").num("hSession"));
        assertError(CKR_FUNCTION_NOT_PARALLEL, () -> pkcs11.C_CancelFunction(8));
        assertEquals(8, module.last("C_CancelFunction").num("hSession"));

        // A module that answers CKR_OK makes them return normally.
        module.script("C_GetFunctionStatus", "rv=0");
        pkcs11.C_GetFunctionStatus(1);
    }
}
