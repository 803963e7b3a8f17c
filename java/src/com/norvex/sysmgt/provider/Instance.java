package com.norvex.sysmgt.provider;

import com.norvex.sysmgt.cim.wmi.wbem.WbemClassObject;
import java.util.List;
import java.util.Objects;

/**
 * A WMI instance or parameter object with typed property access. Instances made through
 * {@link ProviderContext} belong to the provider until it returns them to the server; close the
 * ones it makes and does not return.
 */
public final class Instance implements AutoCloseable {
    private final WbemClassObject object;

    public Instance(WbemClassObject object) {
        this.object = Objects.requireNonNull(object, "object");
    }

    /** The wrapped object, for code that works with WbemClassObject directly. */
    public WbemClassObject wbemObject() {
        return object;
    }

    /** Whether there is no object behind this instance (a method without in-parameters). */
    public boolean isEmpty() {
        return object.isEmpty();
    }

    public String className() {
        return object.className();
    }

    public String relativePath() {
        return object.relativePath();
    }

    public List<String> keyNames() {
        return object.propertyNames(true);
    }

    public List<String> propertyNames() {
        return object.propertyNames(false);
    }

    public boolean isNull(String name) {
        return object.isNull(name);
    }

    /** The value in the Java type that fits it (see {@link WbemClassObject#get}). */
    public Object get(String name) {
        return object.get(name);
    }

    public String getString(String name) {
        return object.getString(name);
    }

    public int getInt(String name) {
        return object.getInt(name);
    }

    public long getLong(String name) {
        return object.getLong(name);
    }

    public boolean getBoolean(String name) {
        return object.getBoolean(name);
    }

    public double getDouble(String name) {
        return object.getDouble(name);
    }

    public String[] getStrings(String name) {
        return object.getStrings(name);
    }

    public int[] getInts(String name) {
        return object.getInts(name);
    }

    /** Writes any value {@link #get} returns; null writes a null value. */
    public Instance set(String name, Object value) {
        object.put(name, value);
        return this;
    }

    public Instance setString(String name, String value) {
        object.putString(name, value);
        return this;
    }

    public Instance setInt(String name, int value) {
        object.putInt(name, value);
        return this;
    }

    public Instance setLong(String name, long value) {
        object.putLong(name, value);
        return this;
    }

    public Instance setBoolean(String name, boolean value) {
        object.putBoolean(name, value);
        return this;
    }

    public Instance setDouble(String name, double value) {
        object.putDouble(name, value);
        return this;
    }

    public Instance setStrings(String name, String... values) {
        object.putStrings(name, values);
        return this;
    }

    public Instance setInts(String name, int... values) {
        object.putInts(name, values);
        return this;
    }

    public Instance setNull(String name) {
        object.putNull(name);
        return this;
    }

    @Override
    public void close() {
        object.close();
    }

    @Override
    public String toString() {
        return "Instance[" + object + "]";
    }
}
