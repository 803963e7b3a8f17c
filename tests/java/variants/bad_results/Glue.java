package com.norvex.sysmgt.proxy;

import com.norvex.sysmgt.cim.wmi.wbem.WbemClassObject;
import java.util.Vector;

/**
 * Test Glue whose results are wrong in shape: getInstance answers 0, enumInstances answers null
 * for a class named "NullVector" and otherwise a vector of null, a String and Integer 0.
 */
public class Glue {
    public Glue(long namespacePointer, String namespaceName) {}

    public int getInstance(String objectPath) {
        return 0;
    }

    public void setInstance(String className, long instance) {
        new WbemClassObject(instance).addRef();
    }

    @SuppressWarnings({"rawtypes", "unchecked"})
    public Vector enumInstances(String className, boolean deep, String requestedClass) {
        if ("NullVector".equals(className)) {
            return null;
        }
        Vector result = new Vector();
        result.add(null);
        result.add("not an Integer");
        result.add(Integer.valueOf(0));
        return result;
    }

    public void invokeMethod(String objectPath, String method, WbemClassObject in, long out) {}

    public void setEventSink(long sink) {}

    public native void CheckForEvents(int sink, int object);
}
