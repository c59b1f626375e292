package zandrop.tesk.pkcs11.vorlen.api;

import java.nio.ByteBuffer;
import java.nio.ReadOnlyBufferException;
import java.util.Objects;

/**
 * The overloads of {@link PKCS11Impl}'s data-carrying methods for {@link ByteBuffer}s, as
 * {@code Cipher.doFinal(ByteBuffer, ByteBuffer)} takes them, and the plumbing that hands the
 * buffers' regions to the native library: PKCS11Impl inherits them, so that its own source reads
 * as the list of the module's functions.
 *
 * <p>They are plain Java methods over two native methods of PKCS11Impl, {@code bufferCall} for
 * the crypto functions and {@code messageBufferCall} for the message functions: a native method
 * that is overloaded could not keep the short JNI name under which the byte[] forms are exported.
 * Each overload names its module function by a {@link Function}, whose code is its ordinal: the
 * native side lists the functions in the same order.
 */
abstract class ByteBufferCalls {

    /**
     * The functions behind the overloads, in the order of the native side's function codes:
     * first those of {@code bufferCall}, then those of {@code messageBufferCall}, each numbered
     * from 0 within its native method.
     */
    enum Function {
        ENCRYPT, ENCRYPT_UPDATE, ENCRYPT_FINAL, DECRYPT, DECRYPT_UPDATE, DECRYPT_FINAL,
        DIGEST, DIGEST_UPDATE, DIGEST_FINAL, SIGN, SIGN_UPDATE, SIGN_FINAL,
        VERIFY, VERIFY_UPDATE, VERIFY_FINAL,
        ENCRYPT_MESSAGE, DECRYPT_MESSAGE, ENCRYPT_MESSAGE_NEXT, DECRYPT_MESSAGE_NEXT, SIGN_MESSAGE,
        VERIFY_MESSAGE;

        /** Whether the function is one of the message functions of {@code messageBufferCall}. */
        boolean message() {
            // Not compareTo: its getClass() calls would be JNI calls while interpreted.
            return ordinal() >= ENCRYPT_MESSAGE.ordinal();
        }

        /** The code the native method knows the function by. */
        int code() {
            return message() ? ordinal() - ENCRYPT_MESSAGE.ordinal() : ordinal();
        }
    }

    /**
     * Encrypts data in one part, ending the encryption, from one buffer into another.
     *
     * <p>The ByteBuffer overloads work alike. The input is the buffer's bytes from its position
     * to its limit; the output is written at the output buffer's position, in the room up to
     * its limit. On success the input's position has reached its limit and the output's
     * position has advanced by the number of bytes written, which is returned. The bytes of a
     * direct buffer reach the module in place, without a copy; a heap buffer is accepted and
     * its bytes are copied (no Java array is pinned while the module works). Input and output
     * may share memory; they must not be the same buffer object.
     *
     * <p>When the output does not have room for the result, the module answers
     * {@code CKR_BUFFER_TOO_SMALL}: the method throws {@link PKCS11Exception} with that code,
     * nothing is consumed, neither position moves, and the operation goes on, so the call can
     * be made again with more room. On any exception the positions are unchanged.
     *
     * @param hSession the session
     * @param pData the data, from its position to its limit
     * @param pEncryptedData where the encrypted data goes, at its position
     * @return the number of bytes written into pEncryptedData
     * @throws PKCS11Exception with the module's error, such as {@code CKR_BUFFER_TOO_SMALL}
     * @throws PKCS11RuntimeException if this object is not connected to a module, or the
     *     module reports a longer result than the room it was given
     * @throws NullPointerException if a buffer is null
     * @throws java.nio.ReadOnlyBufferException if the output buffer is read-only
     * @throws IllegalArgumentException if input and output are the same buffer object
     */
    public int C_Encrypt(long hSession, ByteBuffer pData, ByteBuffer pEncryptedData)
            throws PKCS11Exception {
        return transfer(Function.ENCRYPT, hSession, required(pData, "pData"),
                output(pEncryptedData, "pEncryptedData"), true);
    }

    /**
     * Continues a multi-part encryption from one buffer into another, as
     * {@link #C_Encrypt(long, ByteBuffer, ByteBuffer)} describes.
     *
     * @param hSession the session
     * @param pPart the next part of the data, from its position to its limit
     * @param pEncryptedPart where the encrypted data that this part completes goes
     * @return the number of bytes written into pEncryptedPart, possibly 0
     * @throws PKCS11Exception with the module's error, such as {@code CKR_BUFFER_TOO_SMALL}
     * @throws PKCS11RuntimeException if this object is not connected to a module, or the
     *     module reports a longer result than the room it was given
     * @throws NullPointerException if a buffer is null
     * @throws java.nio.ReadOnlyBufferException if the output buffer is read-only
     * @throws IllegalArgumentException if input and output are the same buffer object
     */
    public int C_EncryptUpdate(long hSession, ByteBuffer pPart, ByteBuffer pEncryptedPart)
            throws PKCS11Exception {
        return transfer(Function.ENCRYPT_UPDATE, hSession, required(pPart, "pPart"),
                output(pEncryptedPart, "pEncryptedPart"), true);
    }

    /**
     * Ends a multi-part encryption into a buffer, as
     * {@link #C_Encrypt(long, ByteBuffer, ByteBuffer)} describes.
     *
     * @param hSession the session
     * @param pLastEncryptedPart where the last encrypted data goes, at its position
     * @return the number of bytes written, possibly 0
     * @throws PKCS11Exception with the module's error, such as {@code CKR_BUFFER_TOO_SMALL}
     * @throws PKCS11RuntimeException if this object is not connected to a module, or the
     *     module reports a longer result than the room it was given
     * @throws NullPointerException if the buffer is null
     * @throws java.nio.ReadOnlyBufferException if the buffer is read-only
     */
    public int C_EncryptFinal(long hSession, ByteBuffer pLastEncryptedPart) throws PKCS11Exception {
        return transfer(Function.ENCRYPT_FINAL, hSession, null,
                output(pLastEncryptedPart, "pLastEncryptedPart"), true);
    }

    /**
     * Decrypts data in one part, ending the decryption, from one buffer into another, as
     * {@link #C_Encrypt(long, ByteBuffer, ByteBuffer)} describes.
     *
     * @param hSession the session
     * @param pEncryptedData the encrypted data, from its position to its limit
     * @param pData where the decrypted data goes, at its position
     * @return the number of bytes written into pData
     * @throws PKCS11Exception with the module's error, such as {@code CKR_BUFFER_TOO_SMALL}
     * @throws PKCS11RuntimeException if this object is not connected to a module, or the
     *     module reports a longer result than the room it was given
     * @throws NullPointerException if a buffer is null
     * @throws java.nio.ReadOnlyBufferException if the output buffer is read-only
     * @throws IllegalArgumentException if input and output are the same buffer object
     */
    public int C_Decrypt(long hSession, ByteBuffer pEncryptedData, ByteBuffer pData)
            throws PKCS11Exception {
        return transfer(Function.DECRYPT, hSession, required(pEncryptedData, "pEncryptedData"),
                output(pData, "pData"), true);
    }

    /**
     * Continues a multi-part decryption from one buffer into another, as
     * {@link #C_Encrypt(long, ByteBuffer, ByteBuffer)} describes.
     *
     * @param hSession the session
     * @param pEncryptedPart the next part of the encrypted data, from its position to its limit
     * @param pPart where the decrypted data that this part completes goes
     * @return the number of bytes written into pPart, possibly 0
     * @throws PKCS11Exception with the module's error, such as {@code CKR_BUFFER_TOO_SMALL}
     * @throws PKCS11RuntimeException if this object is not connected to a module, or the
     *     module reports a longer result than the room it was given
     * @throws NullPointerException if a buffer is null
     * @throws java.nio.ReadOnlyBufferException if the output buffer is read-only
     * @throws IllegalArgumentException if input and output are the same buffer object
     */
    public int C_DecryptUpdate(long hSession, ByteBuffer pEncryptedPart, ByteBuffer pPart)
            throws PKCS11Exception {
        return transfer(Function.DECRYPT_UPDATE, hSession, required(pEncryptedPart, "pEncryptedPart"),
                output(pPart, "pPart"), true);
    }

    /**
     * Ends a multi-part decryption into a buffer, as
     * {@link #C_Encrypt(long, ByteBuffer, ByteBuffer)} describes.
     *
     * @param hSession the session
     * @param pLastPart where the last decrypted data goes, at its position
     * @return the number of bytes written, possibly 0
     * @throws PKCS11Exception with the module's error, such as {@code CKR_BUFFER_TOO_SMALL}
     * @throws PKCS11RuntimeException if this object is not connected to a module, or the
     *     module reports a longer result than the room it was given
     * @throws NullPointerException if the buffer is null
     * @throws java.nio.ReadOnlyBufferException if the buffer is read-only
     */
    public int C_DecryptFinal(long hSession, ByteBuffer pLastPart) throws PKCS11Exception {
        return transfer(Function.DECRYPT_FINAL, hSession, null, output(pLastPart, "pLastPart"), true);
    }

    /**
     * Digests data in one part, ending the digest, from one buffer into another, as
     * {@link #C_Encrypt(long, ByteBuffer, ByteBuffer)} describes.
     *
     * @param hSession the session
     * @param pData the data, from its position to its limit
     * @param pDigest where the digest goes, at its position
     * @return the number of bytes written into pDigest
     * @throws PKCS11Exception with the module's error, such as {@code CKR_BUFFER_TOO_SMALL}
     * @throws PKCS11RuntimeException if this object is not connected to a module, or the
     *     module reports a longer result than the room it was given
     * @throws NullPointerException if a buffer is null
     * @throws java.nio.ReadOnlyBufferException if the output buffer is read-only
     * @throws IllegalArgumentException if input and output are the same buffer object
     */
    public int C_Digest(long hSession, ByteBuffer pData, ByteBuffer pDigest) throws PKCS11Exception {
        return transfer(Function.DIGEST, hSession, required(pData, "pData"), output(pDigest, "pDigest"), true);
    }

    /**
     * Continues a multi-part digest with the bytes of a buffer, from its position to its
     * limit; on success the position has reached the limit.
     *
     * @param hSession the session
     * @param pPart the next part of the data
     * @throws PKCS11Exception with the module's error
     * @throws NullPointerException if the buffer is null
     */
    public void C_DigestUpdate(long hSession, ByteBuffer pPart) throws PKCS11Exception {
        transfer(Function.DIGEST_UPDATE, hSession, required(pPart, "pPart"), null, false);
    }

    /**
     * Ends a multi-part digest into a buffer, as
     * {@link #C_Encrypt(long, ByteBuffer, ByteBuffer)} describes.
     *
     * @param hSession the session
     * @param pDigest where the digest goes, at its position
     * @return the number of bytes written
     * @throws PKCS11Exception with the module's error, such as {@code CKR_BUFFER_TOO_SMALL}
     * @throws PKCS11RuntimeException if this object is not connected to a module, or the
     *     module reports a longer result than the room it was given
     * @throws NullPointerException if the buffer is null
     * @throws java.nio.ReadOnlyBufferException if the buffer is read-only
     */
    public int C_DigestFinal(long hSession, ByteBuffer pDigest) throws PKCS11Exception {
        return transfer(Function.DIGEST_FINAL, hSession, null, output(pDigest, "pDigest"), true);
    }

    /**
     * Signs data in one part, ending the signature, from one buffer into another, as
     * {@link #C_Encrypt(long, ByteBuffer, ByteBuffer)} describes. The module is offered the
     * output buffer's room at once (one call): a signature that does not fit is
     * {@code CKR_BUFFER_TOO_SMALL}, and the signing goes on.
     *
     * @param hSession the session
     * @param pData the data, from its position to its limit
     * @param pSignature where the signature or MAC goes, at its position
     * @return the number of bytes written into pSignature
     * @throws PKCS11Exception with the module's error, such as {@code CKR_BUFFER_TOO_SMALL}
     * @throws PKCS11RuntimeException if this object is not connected to a module, or the
     *     module reports a longer result than the room it was given
     * @throws NullPointerException if a buffer is null
     * @throws java.nio.ReadOnlyBufferException if the output buffer is read-only
     * @throws IllegalArgumentException if input and output are the same buffer object
     */
    public int C_Sign(long hSession, ByteBuffer pData, ByteBuffer pSignature) throws PKCS11Exception {
        return transfer(Function.SIGN, hSession, required(pData, "pData"), output(pSignature, "pSignature"), true);
    }

    /**
     * Continues a multi-part signature or MAC with the bytes of a buffer, from its position to
     * its limit; on success the position has reached the limit.
     *
     * @param hSession the session
     * @param pPart the next part of the data
     * @throws PKCS11Exception with the module's error
     * @throws NullPointerException if the buffer is null
     */
    public void C_SignUpdate(long hSession, ByteBuffer pPart) throws PKCS11Exception {
        transfer(Function.SIGN_UPDATE, hSession, required(pPart, "pPart"), null, false);
    }

    /**
     * Ends a multi-part signature or MAC into a buffer, as
     * {@link #C_Encrypt(long, ByteBuffer, ByteBuffer)} describes.
     *
     * @param hSession the session
     * @param pSignature where the signature or MAC goes, at its position
     * @return the number of bytes written
     * @throws PKCS11Exception with the module's error, such as {@code CKR_BUFFER_TOO_SMALL}
     * @throws PKCS11RuntimeException if this object is not connected to a module, or the
     *     module reports a longer result than the room it was given
     * @throws NullPointerException if the buffer is null
     * @throws java.nio.ReadOnlyBufferException if the buffer is read-only
     */
    public int C_SignFinal(long hSession, ByteBuffer pSignature) throws PKCS11Exception {
        return transfer(Function.SIGN_FINAL, hSession, null, output(pSignature, "pSignature"), true);
    }

    /**
     * Verifies a signature or MAC in one part, ending the verification, with the data and the
     * signature in buffers, each from its position to its limit; on success both positions
     * have reached their limits. Direct buffers reach the module without a copy.
     *
     * @param hSession the session
     * @param pData the data
     * @param pSignature the signature or MAC
     * @throws PKCS11Exception with the module's error, such as {@code CKR_SIGNATURE_INVALID}
     * @throws NullPointerException if a buffer is null
     * @throws IllegalArgumentException if the two are the same buffer object
     */
    public void C_Verify(long hSession, ByteBuffer pData, ByteBuffer pSignature) throws PKCS11Exception {
        transfer(Function.VERIFY, hSession, required(pData, "pData"), required(pSignature, "pSignature"), false);
    }

    /**
     * Continues a multi-part verification with the bytes of a buffer, from its position to its
     * limit; on success the position has reached the limit.
     *
     * @param hSession the session
     * @param pPart the next part of the data
     * @throws PKCS11Exception with the module's error
     * @throws NullPointerException if the buffer is null
     */
    public void C_VerifyUpdate(long hSession, ByteBuffer pPart) throws PKCS11Exception {
        transfer(Function.VERIFY_UPDATE, hSession, required(pPart, "pPart"), null, false);
    }

    /**
     * Ends a multi-part verification with the signature in a buffer, from its position to its
     * limit; on success the position has reached the limit.
     *
     * @param hSession the session
     * @param pSignature the signature or MAC
     * @throws PKCS11Exception with the module's error, such as {@code CKR_SIGNATURE_INVALID}
     * @throws NullPointerException if the buffer is null
     */
    public void C_VerifyFinal(long hSession, ByteBuffer pSignature) throws PKCS11Exception {
        transfer(Function.VERIFY_FINAL, hSession, required(pSignature, "pSignature"), null, false);
    }

    /**
     * Encrypts one message from one buffer into another, as
     * {@link #C_Encrypt(long, ByteBuffer, ByteBuffer)} describes for the buffers: the plaintext
     * from its position to its limit, the ciphertext written at the output's position with the
     * room up to its limit offered at once (one module call, no size query). What the module
     * writes into the parameter (a generated IV, a tag) goes back into it as in
     * {@link PKCS11Impl#C_EncryptMessage(long, Object, byte[], byte[])}.
     *
     * @param hSession the session
     * @param pParameter the per-message parameter, such as a {@link CK_GCM_MESSAGE_PARAMS}
     * @param pAssociatedData the associated data, or null for none
     * @param pPlaintext the plaintext, from its position to its limit
     * @param pCiphertext where the ciphertext goes, at its position
     * @return the number of bytes written into pCiphertext
     * @throws PKCS11Exception with the module's error, such as {@code CKR_BUFFER_TOO_SMALL}, or
     *     {@code CKR_FUNCTION_NOT_SUPPORTED} when the module was connected through a 2.x list
     * @throws PKCS11RuntimeException if this object is not connected to a module, or the
     *     module reports a longer result than the room it was given
     * @throws NullPointerException if a buffer is null
     * @throws java.nio.ReadOnlyBufferException if the output buffer is read-only
     * @throws IllegalArgumentException if input and output are the same buffer object
     */
    public int C_EncryptMessage(long hSession, Object pParameter, byte[] pAssociatedData, ByteBuffer pPlaintext,
            ByteBuffer pCiphertext) throws PKCS11Exception {
        return transfer(Function.ENCRYPT_MESSAGE, hSession, pParameter, pAssociatedData, 0,
                required(pPlaintext, "pPlaintext"), output(pCiphertext, "pCiphertext"), true);
    }

    /**
     * Decrypts one message from one buffer into another, as
     * {@link #C_EncryptMessage(long, Object, byte[], ByteBuffer, ByteBuffer)} describes.
     *
     * @param hSession the session
     * @param pParameter the per-message parameter, such as a {@link CK_GCM_MESSAGE_PARAMS}
     * @param pAssociatedData the associated data, or null for none
     * @param pCiphertext the ciphertext, from its position to its limit
     * @param pPlaintext where the plaintext goes, at its position
     * @return the number of bytes written into pPlaintext
     * @throws PKCS11Exception with the module's error, such as {@code CKR_BUFFER_TOO_SMALL}
     * @throws PKCS11RuntimeException if this object is not connected to a module, or the
     *     module reports a longer result than the room it was given
     * @throws NullPointerException if a buffer is null
     * @throws java.nio.ReadOnlyBufferException if the output buffer is read-only
     * @throws IllegalArgumentException if input and output are the same buffer object
     */
    public int C_DecryptMessage(long hSession, Object pParameter, byte[] pAssociatedData, ByteBuffer pCiphertext,
            ByteBuffer pPlaintext) throws PKCS11Exception {
        return transfer(Function.DECRYPT_MESSAGE, hSession, pParameter, pAssociatedData, 0,
                required(pCiphertext, "pCiphertext"), output(pPlaintext, "pPlaintext"), true);
    }

    /**
     * Encrypts the next part of a message from one buffer into another, as
     * {@link #C_EncryptMessage(long, Object, byte[], ByteBuffer, ByteBuffer)} describes.
     *
     * @param hSession the session
     * @param pParameter the per-message parameter
     * @param pPlaintextPart the part, from its position to its limit
     * @param pCiphertextPart where the ciphertext this part completes goes, at its position
     * @param flags {@code CKF_END_OF_MESSAGE} for the last part, otherwise 0
     * @return the number of bytes written into pCiphertextPart, possibly 0
     * @throws PKCS11Exception with the module's error, such as {@code CKR_BUFFER_TOO_SMALL}
     * @throws PKCS11RuntimeException if this object is not connected to a module, or the
     *     module reports a longer result than the room it was given
     * @throws NullPointerException if a buffer is null
     * @throws java.nio.ReadOnlyBufferException if the output buffer is read-only
     * @throws IllegalArgumentException if input and output are the same buffer object
     */
    public int C_EncryptMessageNext(long hSession, Object pParameter, ByteBuffer pPlaintextPart,
            ByteBuffer pCiphertextPart, long flags) throws PKCS11Exception {
        return transfer(Function.ENCRYPT_MESSAGE_NEXT, hSession, pParameter, null, flags,
                required(pPlaintextPart, "pPlaintextPart"), output(pCiphertextPart, "pCiphertextPart"), true);
    }

    /**
     * Decrypts the next part of a message from one buffer into another, as
     * {@link #C_EncryptMessage(long, Object, byte[], ByteBuffer, ByteBuffer)} describes.
     *
     * @param hSession the session
     * @param pParameter the per-message parameter
     * @param pCiphertextPart the part, from its position to its limit
     * @param pPlaintextPart where the plaintext this part completes goes, at its position
     * @param flags {@code CKF_END_OF_MESSAGE} for the last part, otherwise 0
     * @return the number of bytes written into pPlaintextPart, possibly 0
     * @throws PKCS11Exception with the module's error, such as {@code CKR_BUFFER_TOO_SMALL}
     * @throws PKCS11RuntimeException if this object is not connected to a module, or the
     *     module reports a longer result than the room it was given
     * @throws NullPointerException if a buffer is null
     * @throws java.nio.ReadOnlyBufferException if the output buffer is read-only
     * @throws IllegalArgumentException if input and output are the same buffer object
     */
    public int C_DecryptMessageNext(long hSession, Object pParameter, ByteBuffer pCiphertextPart,
            ByteBuffer pPlaintextPart, long flags) throws PKCS11Exception {
        return transfer(Function.DECRYPT_MESSAGE_NEXT, hSession, pParameter, null, flags,
                required(pCiphertextPart, "pCiphertextPart"), output(pPlaintextPart, "pPlaintextPart"), true);
    }

    /**
     * Signs one message from one buffer into another, as
     * {@link #C_EncryptMessage(long, Object, byte[], ByteBuffer, ByteBuffer)} describes: a
     * signature that does not fit is {@code CKR_BUFFER_TOO_SMALL}.
     *
     * @param hSession the session
     * @param pParameter the per-message parameter, or null
     * @param pData the data, from its position to its limit
     * @param pSignature where the signature or MAC goes, at its position
     * @return the number of bytes written into pSignature
     * @throws PKCS11Exception with the module's error, such as {@code CKR_BUFFER_TOO_SMALL}
     * @throws PKCS11RuntimeException if this object is not connected to a module, or the
     *     module reports a longer result than the room it was given
     * @throws NullPointerException if a buffer is null
     * @throws java.nio.ReadOnlyBufferException if the output buffer is read-only
     * @throws IllegalArgumentException if input and output are the same buffer object
     */
    public int C_SignMessage(long hSession, Object pParameter, ByteBuffer pData, ByteBuffer pSignature)
            throws PKCS11Exception {
        return transfer(Function.SIGN_MESSAGE, hSession, pParameter, null, 0, required(pData, "pData"),
                output(pSignature, "pSignature"), true);
    }

    /**
     * Verifies the signature of one message, with the data and the signature in buffers, each
     * from its position to its limit; on success both positions have reached their limits.
     *
     * @param hSession the session
     * @param pParameter the per-message parameter, or null
     * @param pData the data
     * @param pSignature the signature or MAC
     * @throws PKCS11Exception with the module's error, such as {@code CKR_SIGNATURE_INVALID}
     * @throws NullPointerException if a buffer is null
     * @throws IllegalArgumentException if the two are the same buffer object
     */
    public void C_VerifyMessage(long hSession, Object pParameter, ByteBuffer pData, ByteBuffer pSignature)
            throws PKCS11Exception {
        transfer(Function.VERIFY_MESSAGE, hSession, pParameter, null, 0, required(pData, "pData"),
                required(pSignature, "pSignature"), false);
    }

    private static ByteBuffer required(ByteBuffer buffer, String name) {
        return Objects.requireNonNull(buffer, name);
    }

    private static ByteBuffer output(ByteBuffer buffer, String name) {
        if (Objects.requireNonNull(buffer, name).isReadOnly()) {
            throw new ReadOnlyBufferException();
        }
        return buffer;
    }

    /**
     * One buffer's region as the native methods take it: a direct buffer with its capacity and
     * the region's offset in it, or a Java array with the region's offset in it (a heap buffer's
     * backing array, or a copy of a read-only heap buffer's bytes), or neither (no buffer).
     */
    private static final class Region {
        final int start;
        final int end;
        final ByteBuffer direct;
        final int capacity;
        final byte[] array;
        final int offset;

        Region(ByteBuffer buffer) {
            if (buffer == null) {
                start = end = capacity = offset = 0;
                direct = null;
                array = null;
                return;
            }
            start = buffer.position();
            end = buffer.limit();
            if (buffer.isDirect()) {
                direct = buffer;
                capacity = buffer.capacity();
                array = null;
                offset = start;
            } else if (buffer.hasArray()) {
                direct = null;
                capacity = 0;
                array = buffer.array();
                offset = buffer.arrayOffset() + start;
            } else { // a read-only heap buffer, only ever an input: its bytes, copied
                direct = null;
                capacity = 0;
                array = new byte[end - start];
                offset = 0;
                buffer.duplicate().get(array);
            }
        }

        int length() {
            return end - start;
        }
    }

    private int transfer(Function function, long hSession, ByteBuffer first, ByteBuffer second, boolean written)
            throws PKCS11Exception {
        return transfer(function, hSession, null, null, 0, first, second, written);
    }

    /**
     * Hands the buffers' regions to the native method of the function and moves the positions
     * after a successful call: the first to its limit, the second by the bytes written when
     * {@code written} (it is the output), to its limit otherwise (it is a second input). The
     * per-message parameter, associated data and flags go only to the message functions.
     */
    private int transfer(Function function, long hSession, Object parameter, byte[] associatedData, long flags,
            ByteBuffer first, ByteBuffer second, boolean written) throws PKCS11Exception {
        if (first != null && first == second) {
            throw new IllegalArgumentException(
                    "the two buffers must be different objects (a duplicate() may share the bytes)");
        }
        Region in = new Region(first);
        Region out = new Region(second);
        int count = function.message()
                ? messageBufferCall(function.code(), hSession, parameter, associatedData, in.direct, in.capacity,
                        in.array, in.offset, in.length(), out.direct, out.capacity, out.array, out.offset,
                        out.length(), flags)
                : bufferCall(function.code(), hSession, in.direct, in.capacity, in.array, in.offset, in.length(),
                        out.direct, out.capacity, out.array, out.offset, out.length());
        if (first != null) {
            first.position(in.end);
        }
        if (second != null) {
            second.position(written ? out.start + count : out.end);
        }
        return count;
    }

    /**
     * The native side of the crypto functions' overloads: one module call on two regions of
     * bytes, each a direct buffer with its capacity and the region's offset in it, or a Java
     * array with the region's offset in it (copied into native memory for the call; an output
     * region is copied back after it), or neither (no region). Returns the number of output
     * bytes written, 0 for the functions without output.
     */
    abstract int bufferCall(int function, long hSession, ByteBuffer inBuffer, int inCapacity, byte[] inArray,
            int inOffset, int inLength, ByteBuffer outBuffer, int outCapacity, byte[] outArray, int outOffset,
            int outLength) throws PKCS11Exception;

    /**
     * The native side of the message functions' overloads: as {@code bufferCall}, with the
     * per-message parameter, the associated data (C_EncryptMessage, C_DecryptMessage) and the
     * flags (the *Next forms).
     */
    abstract int messageBufferCall(int function, long hSession, Object parameter, byte[] associatedData,
            ByteBuffer inBuffer, int inCapacity, byte[] inArray, int inOffset, int inLength, ByteBuffer outBuffer,
            int outCapacity, byte[] outArray, int outOffset, int outLength, long flags) throws PKCS11Exception;
}
