package com.norvex.sysmgt.proxy;

import com.norvex.sysmgt.cim.wmi.wbem.WbemClassObject;
import java.util.Vector;

/**
 * Test Glue that records every call, one line each, fields split by '|': strings as received,
 * pointers as the signed {@code long} values received. {@link #log()} reads the record and
 * {@link #clear()} empties it. getInstance and enumInstances answer the object set with
 * {@link #answerWith} (0: none), adding the reference they hand over; setInstance keeps one
 * reference as the contract asks; {@link #fire} calls CheckForEvents with the last sink.
 */
public class Glue {
    private static final StringBuilder LOG = new StringBuilder();
    private static long answer;
    private static Glue lastGlue;
    private static long lastSink;

    public Glue(long namespacePointer, String namespaceName) {
        record("<init>|" + namespacePointer + "|" + namespaceName);
        synchronized (Glue.class) {
            lastGlue = this;
        }
    }

    public int getInstance(String objectPath) {
        record("getInstance|" + objectPath);
        long object = answer();
        if (object != 0) {
            new WbemClassObject(object).addRef();
        }
        return (int) object;
    }

    public void setInstance(String className, long instance) {
        record("setInstance|" + className + "|" + instance);
        new WbemClassObject(instance).addRef();
    }

    public Vector<Integer> enumInstances(String className, boolean deep, String requestedClass) {
        record("enumInstances|" + className + "|" + deep + "|" + requestedClass + "|"
                + (className != requestedClass ? "distinct" : "same"));
        Vector<Integer> result = new Vector<>();
        long object = answer();
        if (object != 0) {
            new WbemClassObject(object).addRef();
            result.add((int) object);
        }
        return result;
    }

    public void invokeMethod(String objectPath, String method, WbemClassObject in, long out) {
        record("invokeMethod|" + objectPath + "|" + method + "|" + (in == null ? "null" : in.pointer())
                + "|" + out);
    }

    public void setEventSink(long sink) {
        record("setEventSink|" + sink);
        synchronized (Glue.class) {
            lastSink = sink;
        }
    }

    public native void CheckForEvents(int sink, int object);

    public static synchronized String log() {
        return LOG.toString();
    }

    public static synchronized void clear() {
        LOG.setLength(0);
    }

    public static synchronized void answerWith(long object) {
        answer = object;
    }

    /** CheckForEvents(last sink, object) on the last Glue made. */
    public static void fire(int object) {
        Glue glue;
        long sink;
        synchronized (Glue.class) {
            glue = lastGlue;
            sink = lastSink;
        }
        glue.CheckForEvents((int) sink, object);
    }

    private static synchronized long answer() {
        return answer;
    }

    private static synchronized void record(String line) {
        LOG.append(line).append('\n');
    }
}
