package com.norvex.sysmgt.proxy;

import com.norvex.sysmgt.cim.wmi.wbem.WbemClassObject;
import java.util.Vector;

/** Test Glue whose every member throws, each with a message of its own. */
public class Glue {
    public Glue(long namespacePointer, String namespaceName) {
        if (namespaceName != null && namespaceName.contains("refuse")) {
            throw new IllegalStateException("Glue refused namespace " + namespaceName);
        }
    }

    public int getInstance(String objectPath) {
        throw new IllegalStateException("getInstance failed for " + objectPath);
    }

    public void setInstance(String className, long instance) {
        throw new RuntimeException((String) null);
    }

    public Vector<Integer> enumInstances(String className, boolean deep, String requestedClass) {
        throw new IllegalStateException("enumInstances failed: \u00dcn\u00efc\u00f6d\u00e9 \u2713 " + className);
    }

    public void invokeMethod(String objectPath, String method, WbemClassObject in, long out) {
        throw new UnsupportedOperationException("invokeMethod " + method + " refused");
    }

    public void setEventSink(long sink) {
        throw new IllegalArgumentException("setEventSink refused");
    }

    public native void CheckForEvents(int sink, int object);
}
