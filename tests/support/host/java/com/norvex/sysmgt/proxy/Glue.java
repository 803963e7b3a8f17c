package com.norvex.sysmgt.proxy;

import com.norvex.sysmgt.cim.wmi.wbem.WbemClassObject;
import java.util.Vector;

/**
 * A Glue that does nothing costly, for the benchmarks and the stress test: every request hands
 * back the one prepared instance the host gives it, so what is measured is the way to Java and
 * back, not the work of a real provider. A path or class name containing "missing" fails with
 * an exception, so that failing requests can be mixed in.
 */
public class Glue {
    /** The instance every request hands back, set by the host. */
    static volatile long instance;
    /** The object every fired event carries, set by the host. */
    static volatile long eventObject;
    /** How many elements an enumeration hands back. */
    static volatile int enumerationSize = 1;

    private static Vector<Integer> cachedVector;
    private static long cachedFor;
    private static volatile Glue eventGlue;

    private volatile long sink;

    public Glue(long namespacePointer, String namespaceName) {
        if (namespaceName != null && namespaceName.contains("missing")) {
            throw new IllegalStateException("No such namespace " + namespaceName);
        }
    }

    /** Adds `count` references to the object (a native the host registers). */
    static native void addRefs(long object, int count);

    public int getInstance(String objectPath) {
        if (objectPath.contains("missing")) {
            throw new IllegalStateException("No instance " + objectPath);
        }
        long object = instance;
        addRefs(object, 1);
        return (int) object;
    }

    public void setInstance(String className, long instancePointer) {
        if (className.contains("missing")) {
            throw new IllegalStateException("Cannot store " + className);
        }
        addRefs(instancePointer, 1);
    }

    public Vector<Integer> enumInstances(String className, boolean deep, String requested) {
        int count = enumerationSize;
        Vector<Integer> elements = elements(count);
        addRefs(instance, count);
        return elements;
    }

    public void invokeMethod(String objectPath, String method, WbemClassObject in, long out) {
        if (objectPath.contains("missing")) {
            throw new IllegalStateException("No object " + objectPath);
        }
    }

    public void setEventSink(long sinkPointer) {
        sink = sinkPointer;
        // The first provider object to take a sink fires every event; later ones (a benchmark
        // calling ProvideEvents on an object of its own) must not take over a stream their
        // short life would leave pointing at a released sink.
        if (eventGlue == null) {
            eventGlue = this;
        }
    }

    public native void CheckForEvents(int sink, int object);

    /** Fires `count` events on the calling thread. */
    public static void fire(int count) {
        Glue glue = eventGlue;
        int target = (int) glue.sink;
        int event = (int) eventObject;
        for (int i = 0; i < count; i++) {
            glue.CheckForEvents(target, event);
        }
    }

    // One vector per size and instance, shared by every call: building it is the Java side's
    // work, which a real provider does differently anyway.
    private static synchronized Vector<Integer> elements(int count) {
        long object = instance;
        if (cachedVector == null || cachedVector.size() != count || cachedFor != object) {
            Vector<Integer> built = new Vector<>(count);
            Integer element = Integer.valueOf((int) object);
            for (int i = 0; i < count; i++) {
                built.add(element);
            }
            cachedVector = built;
            cachedFor = object;
        }
        return cachedVector;
    }
}
