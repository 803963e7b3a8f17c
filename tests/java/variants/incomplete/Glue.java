package com.norvex.sysmgt.proxy;

import java.util.Vector;

/** Test Glue without getInstance, setInstance and invokeMethod. */
public class Glue {
    public Glue(long namespacePointer, String namespaceName) {}

    public Vector<Integer> enumInstances(String className, boolean deep, String requestedClass) {
        return new Vector<>();
    }

    public void setEventSink(long sink) {}

    public native void CheckForEvents(int sink, int object);
}
