package zandrop.tesk.pkcs11.vorlen.token;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_ATTRIBUTE_SENSITIVE;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_ATTRIBUTE_TYPE_INVALID;

import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.NoSuchElementException;
import java.util.Optional;
import java.util.StringJoiner;

import zandrop.tesk.pkcs11.vorlen.api.CK_ATTRIBUTE;

/**
 * The attributes of one object as a lenient read found them: each one read, or marked with
 * the reason it could not be.
 */
public final class AttributeValues {

    /** What a read found for one attribute. */
    public enum Status {
        /** The value was read (it may be empty). */
        READ,
        /** The module does not reveal the value ({@code CKR_ATTRIBUTE_SENSITIVE}). */
        SENSITIVE,
        /** The object has no such attribute ({@code CKR_ATTRIBUTE_TYPE_INVALID}). */
        UNKNOWN,
        /**
         * The value could not be read for another reason: the module marked it unavailable
         * without a reason, its value changed between the calls, or the module reported a
         * length beyond the room it was given, or bytes that are no value of the attribute's
         * class.
         */
        UNAVAILABLE
    }

    private final Map<Attr<?>, Object> values = new LinkedHashMap<>();
    private final Map<Attr<?>, Status> statuses = new LinkedHashMap<>();

    AttributeValues(Attr<?>[] attrs, CK_ATTRIBUTE[] read, long[] outcomes) {
        for (int i = 0; i < attrs.length; i++) {
            Attr<?> attr = attrs[i];
            long outcome = outcomes[i];
            Status status = outcome == 0 ? Status.READ
                    : outcome == CKR_ATTRIBUTE_SENSITIVE ? Status.SENSITIVE
                    : outcome == CKR_ATTRIBUTE_TYPE_INVALID ? Status.UNKNOWN
                    : Status.UNAVAILABLE;
            Object value = read[i].pValue;
            if (status == Status.READ && value != null) {
                try {
                    values.put(attr, attr.fromNative(value));
                } catch (IllegalStateException e) {
                    status = Status.UNAVAILABLE;
                }
            }
            statuses.put(attr, status);
        }
    }

    /**
     * Returns an attribute's value.
     *
     * @param <T> the class of the value
     * @param attr the attribute, one of those read
     * @return the value; empty when it could not be read, or is empty (a label of no bytes
     *     reads as an empty string, not as empty here, when the module reports it so)
     */
    public <T> Optional<T> get(Attr<T> attr) {
        Object v = values.get(attr);
        return Optional.ofNullable(v == null ? null : attr.valueClass().cast(v instanceof byte[] b ? b.clone() : v));
    }

    /**
     * Returns an attribute's value, which must have been read.
     *
     * @param <T> the class of the value
     * @param attr the attribute
     * @return the value
     * @throws NoSuchElementException naming the attribute and its status, when there is none
     */
    public <T> T require(Attr<T> attr) {
        return get(attr).orElseThrow(() -> new NoSuchElementException(attr.name() + ": " + status(attr)));
    }

    /**
     * Returns what the read found for an attribute.
     *
     * @param attr the attribute
     * @return the status
     * @throws IllegalArgumentException if the attribute was not among those read
     */
    public Status status(Attr<?> attr) {
        Status s = statuses.get(attr);
        if (s == null) {
            for (Map.Entry<Attr<?>, Status> e : statuses.entrySet()) {
                if (e.getKey().type() == attr.type()) {
                    return e.getValue();
                }
            }
            throw new IllegalArgumentException(attr.name() + " was not read");
        }
        return s;
    }

    /**
     * Returns the status of every attribute read, in the order asked for.
     *
     * @return attribute to status
     */
    public Map<Attr<?>, Status> statuses() {
        return Collections.unmodifiableMap(statuses);
    }

    @Override
    public String toString() {
        StringJoiner j = new StringJoiner(", ", "{", "}");
        statuses.forEach((a, s) -> j.add(a.name() + "=" + (s != Status.READ ? s
                : Template.isSecret(a.type()) ? "(read)" : Template.text(values.get(a)))));
        return j.toString();
    }
}
