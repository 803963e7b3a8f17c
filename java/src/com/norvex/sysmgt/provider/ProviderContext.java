package com.norvex.sysmgt.provider;

import com.norvex.sysmgt.cim.wmi.wbem.WbemClassObject;
import java.util.Map;
import java.util.Objects;
import java.util.TreeMap;

/**
 * The namespace a request runs in, and the way to make new instances there. A context lives
 * for one request: the first instance of a class it makes fetches the class's definition from
 * the namespace, and the later ones of that class are made from the same definition, so a
 * request sees each class as it was when the request first asked for it.
 */
public final class ProviderContext implements AutoCloseable {
    private final long namespacePointer;
    private final String namespaceName;
    private final String wmiClass;
    /** The definitions fetched so far, by class name in any case; null once closed. */
    private Map<String, WbemClassObject> classes = new TreeMap<>(String.CASE_INSENSITIVE_ORDER);

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
        Objects.requireNonNull(className, "className");
        WbemClassObject made;
        synchronized (this) {
            if (classes == null) {
                // Used past its request: nothing would release a definition kept now.
                made = WbemClassObject.spawn(namespacePointer, className);
            } else {
                WbemClassObject definition = classes.get(className);
                if (definition == null) {
                    definition = WbemClassObject.fetchClass(namespacePointer, className);
                    classes.put(className, definition);
                }
                made = definition.spawnInstance(className);
            }
        }
        return new Instance(made);
    }

    /**
     * Ends the request: releases the class definitions kept for it. Instances made afterwards
     * each fetch their class again. The server's side calls this when the request is answered.
     */
    @Override
    public void close() {
        Map<String, WbemClassObject> kept;
        synchronized (this) {
            kept = classes;
            classes = null;
        }
        if (kept != null) {
            for (WbemClassObject definition : kept.values()) {
                definition.close();
            }
        }
    }
}
