package zandrop.tesk.pkcs11.vorlen.api;

/**
 * A mechanism: its type and its parameter.
 *
 * <p>The Java class of the parameter decides its native form, whatever the mechanism type:
 * <ul>
 * <li>{@code null}: no parameter;</li>
 * <li>{@code byte[]}: the bytes unchanged, such as an initialization vector;</li>
 * <li>{@link Long}: one {@code CK_ULONG}, such as the MAC length of a general MAC
 *     mechanism;</li>
 * <li>{@link CK_VERSION}: a two-byte version;</li>
 * <li>one of the parameter classes of this package, such as {@link CK_RSA_PKCS_OAEP_PARAMS}
 *     or {@link CK_PBE_PARAMS}: the native record of the same name;</li>
 * <li>any other value that {@link CK_ATTRIBUTE} accepts: its native form as an attribute
 *     value.</li>
 * </ul>
 * A parameter of any other class makes the call fail with a {@link PKCS11RuntimeException}.
 *
 * <p>For a few mechanisms the module returns results through the parameter: the
 * initialization vector of the password-based key generations ({@link CK_PBE_PARAMS}), the
 * block contents of {@code CKM_KEY_WRAP_SET_OAEP} ({@link CK_KEY_WRAP_SET_OAEP_PARAMS}), the
 * protocol version of {@code CKM_SSL3_MASTER_KEY_DERIVE}
 * ({@link CK_SSL3_MASTER_KEY_DERIVE_PARAMS}) and the handles and IVs of
 * {@code CKM_SSL3_KEY_AND_MAC_DERIVE} ({@link CK_SSL3_KEY_MAT_PARAMS}). These results are
 * written into the Java parameter object after the call.
 */
public class CK_MECHANISM {

    /** The mechanism type, such as {@link PKCS11Constants#CKM_AES_CBC_PAD}. */
    public long mechanism;

    /** The parameter, of one of the classes listed above, or null. */
    public Object pParameter;

    /** Creates a mechanism of type 0 ({@code CKM_RSA_PKCS_KEY_PAIR_GEN}) without parameter. */
    public CK_MECHANISM() {
    }

    /**
     * Creates a mechanism without parameter.
     *
     * @param mechanism the mechanism type
     */
    public CK_MECHANISM(long mechanism) {
        this.mechanism = mechanism;
    }

    /**
     * Creates a mechanism with a parameter.
     *
     * @param mechanism the mechanism type
     * @param pParameter the parameter, of one of the classes listed above, or null
     */
    public CK_MECHANISM(long mechanism, Object pParameter) {
        this.mechanism = mechanism;
        this.pParameter = pParameter;
    }

    /** Returns the mechanism by name, with its parameter when it has one. */
    @Override
    public String toString() {
        Format.Fields fields = new Format.Fields("CK_MECHANISM")
                .add("mechanism", Format.mechanism(mechanism));
        if (pParameter != null) {
            fields.add("pParameter", Format.value(pParameter));
        }
        return fields.build();
    }
}
