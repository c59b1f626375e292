package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;

import zandrop.tesk.pkcs11.vorlen.testmodule.TestModule;

/**
 * A test whose every case runs against a fresh first test module through a newly connected
 * object, and which checks afterwards that no native heap block outlived the case.
 */
abstract class ConnectedToTestModule {
    protected TestModule module;
    protected PKCS11Impl pkcs11;
    protected long blocksBefore;

    @BeforeEach
    void connectToTestModule() throws Exception {
        module = TestModules.firstModule();
        pkcs11 = TestModules.connected(TestModules.first());
        blocksBefore = PKCS11Impl.heapBlockCount();
    }

    @AfterEach
    void checkBlocksAndDisconnect() {
        try {
            assertEquals(blocksBefore, PKCS11Impl.heapBlockCount(), "no native block outlives a call");
        } finally {
            pkcs11.disconnect();
        }
    }
}
