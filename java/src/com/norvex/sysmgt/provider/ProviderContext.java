package com.norvex.sysmgt.provider;

import com.norvex.sysmgt.cim.wmi.wbem.WbemClassObject;

/** The namespace a request runs in, and the way to make new instances there. */
public final class ProviderContext {
    private final long namespacePointer;
    private final String namespaceName;
    private final String wmiClass;

    public ProviderContext(long namespacePointer, String namespaceName, String wmiClass) {
        this.namespacePointer = namespacePointer;
        this.namespaceName = namespaceName;
        this.wmiClass = wmiClass;
    }

    /** The namespace's path, as WMI named it, e.g. "root\\norvex\\sample". */
    public String namespaceName() {
        return namespaceName;
    }

    /** The class of the request. */
    public String wmiClass() {
        return wmiClass;
    }

    /** A new blank instance of the request's class. */
    public Instance newInstance() {
        return newInstance(wmiClass);
    }

    /** A new blank instance of any class of the namespace. */
    public Instance newInstance(String className) {
        return new Instance(WbemClassObject.spawn(namespacePointer, className));
    }
}
