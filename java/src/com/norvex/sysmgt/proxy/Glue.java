package com.norvex.sysmgt.proxy;

import com.norvex.sysmgt.cim.wmi.wbem.WbemClassObject;
import com.norvex.sysmgt.provider.EventProvider;
import com.norvex.sysmgt.provider.Instance;
import com.norvex.sysmgt.provider.InstanceEnumerator;
import com.norvex.sysmgt.provider.InstanceProvider;
import com.norvex.sysmgt.provider.InstanceWriter;
import com.norvex.sysmgt.provider.MethodProvider;
import com.norvex.sysmgt.provider.ObjectPath;
import com.norvex.sysmgt.provider.ProviderContext;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.TreeSet;
import java.util.Vector;

/**
 * The server's side of Java: one Glue per provider object (one per WMI namespace), which hands
 * each WMI request to the provider registered for the request's class.
 *
 * <p>WMI objects cross as pointer values: in as sign-extended {@code long}s, out as {@code int}s
 * carrying one reference for the server. Every failure is thrown; a provider's own exception is
 * marked as the provider's. The server asks {@link #failureStatus} and {@link #describeFailure}
 * what to answer and what to tell the client and the trace log.
 */
public class Glue {
    // Fires for every channel: the server binds CheckForEvents to the class, whatever instance
    // it is called on, and a channel must not keep its own Glue reachable.
    private static final Glue EVENT_DELIVERY = new Glue();

    private final long namespacePointer;
    private final String namespaceName;
    private final ProviderTable providers;
    private final Object eventLock = new Object();
    /** The providers started on the current sink, each with its own channel. */
    private final Map<EventProvider, SinkChannel> started = new LinkedHashMap<>();

    private Glue() {
        namespacePointer = 0;
        namespaceName = null;
        providers = null;
    }

    public Glue(long namespacePointer, String namespaceName) {
        this.namespacePointer = namespacePointer;
        this.namespaceName = namespaceName;
        this.providers = new ProviderTable(Glue.class.getClassLoader());
    }

    /**
     * The instance the path names, with one reference for the caller; 0 when the provider has
     * none, which the server answers with WBEM_E_NOT_FOUND.
     */
    public int getInstance(String objectPath) {
        ObjectPath path = ObjectPath.parse(objectPath);
        InstanceProvider provider =
                providers.require(path.className(), InstanceProvider.class, "get instances");
        try (ProviderContext context = context(path.className())) {
            Instance found = Failures.call(provider, "getInstance",
                    () -> provider.getInstance(path, context));
            if (found == null || found.isEmpty()) {
                return 0;
            }
            return found.wbemObject().handOver();
        }
    }

    /**
     * What the jars on the class path serve, for a check of the registrations against them: see
     * {@code ProviderTable.listing}. Makes every provider once, as a namespace's Glue does.
     */
    public static String listProviders() {
        return new ProviderTable(Glue.class.getClassLoader()).listing();
    }

    /** The WMI status that an exception of a Glue member answers. */
    public static int failureStatus(Throwable failure) {
        return Failures.status(failure);
    }

    /**
     * What the client and the trace log are told of an exception of a Glue member: the
     * description, the provider's name, and the trace record (with the first stack frames).
     */
    public static String[] describeFailure(Throwable failure) {
        return Failures.describe(failure);
    }

    /**
     * Stores an instance. On success one reference is added to it, which the server releases
     * after the call; on failure none is.
     */
    public void setInstance(String className, long instancePointer) {
        if (instancePointer == 0) {
            throw new IllegalArgumentException("setInstance of class " + className + " without an instance");
        }
        WbemClassObject object = new WbemClassObject(instancePointer);
        String wmiClass = className != null ? className : object.className();
        InstanceWriter writer = providers.require(wmiClass, InstanceWriter.class, "put instances");
        try (ProviderContext context = context(wmiClass)) {
            Failures.run(writer, "putInstance",
                    () -> writer.putInstance(new Instance(object), context));
        }
        object.addRef();
    }

    /** The instances of the class, each {@code Integer} carrying one reference for the caller. */
    public Vector<Integer> enumInstances(String className, boolean deep, String requestedClass) {
        InstanceEnumerator enumerator =
                providers.require(className, InstanceEnumerator.class, "enumerate instances");
        try (ProviderContext context = context(className)) {
            return handOver(Failures.call(enumerator, "enumerateInstances",
                    () -> enumerator.enumerateInstances(context)));
        }
    }

    /** Each instance as an {@code Integer} carrying one reference; on failure, none. */
    private static Vector<Integer> handOver(List<Instance> instances) {
        Vector<Integer> handed = new Vector<>();
        if (instances == null) {
            return handed;
        }
        List<Instance> pending = new ArrayList<>(instances);
        try {
            for (int i = 0; i < pending.size(); i++) {
                Instance instance = pending.get(i);
                if (instance != null && !instance.isEmpty()) {
                    handed.add(instance.wbemObject().handOver());
                }
                pending.set(i, null);
            }
            return handed;
        } catch (RuntimeException | Error failure) {
            // The server receives nothing, so nothing may stay referenced for it.
            for (Integer pointer : handed) {
                new WbemClassObject(pointer).release();
            }
            for (Instance instance : pending) {
                if (instance != null) {
                    instance.close();
                }
            }
            throw failure;
        }
    }

    /** Runs a method; the out-parameters object stays the server's. */
    public void invokeMethod(String objectPath, String method, WbemClassObject inParameters,
            long outParameters) {
        ObjectPath path = ObjectPath.parse(objectPath);
        MethodProvider provider =
                providers.require(path.className(), MethodProvider.class, "run methods");
        Instance in = new Instance(inParameters != null ? inParameters : new WbemClassObject(0));
        Instance out = new Instance(new WbemClassObject(outParameters));
        try (ProviderContext context = context(path.className())) {
            Failures.run(provider, "invokeMethod",
                    () -> provider.invokeMethod(path, method, in, out, context));
        }
    }

    /**
     * Takes WMI's event sink (0: none). The providers of events are stopped on the old sink, if
     * any, and those whose event classes this namespace registers are started on the new one,
     * each with a channel that carries only those classes. When this returns, nothing fires into
     * the old sink any more, nor makes events through the namespace for it: the server releases
     * it then.
     */
    public void setEventSink(long sink) {
        synchronized (eventLock) {
            stopEvents();
            if (sink == 0) {
                return;
            }
            RuntimeException first = null;
            for (EventProvider provider : providers.all(EventProvider.class)) {
                try {
                    Set<String> declared = declaredEventClasses(provider);
                    Set<String> classes = registeredClasses(
                            declared.isEmpty() ? Set.of(provider.wmiClass()) : declared);
                    if (classes.isEmpty()) {
                        continue;
                    }
                    SinkChannel channel = new SinkChannel(
                            (int) sink, namespacePointer, namespaceName, classes, declared);
                    started.put(provider, channel);
                    provider.startEvents(channel);
                } catch (RuntimeException e) {
                    // One provider that cannot watch leaves the others watching.
                    if (first == null) {
                        first = e;
                    }
                }
            }
            if (first != null) {
                throw first;
            }
        }
    }

    private static Set<String> declaredEventClasses(EventProvider provider) {
        Set<String> declared = new TreeSet<>(String.CASE_INSENSITIVE_ORDER);
        Set<String> named = provider.eventClasses();
        if (named != null) {
            for (String eventClass : named) {
                if (eventClass != null && !eventClass.isEmpty()) {
                    declared.add(eventClass);
                }
            }
        }
        return declared;
    }

    /** Those of the classes that this namespace registers. */
    private Set<String> registeredClasses(Set<String> wanted) {
        Set<String> result = new TreeSet<>(String.CASE_INSENSITIVE_ORDER);
        for (String wmiClass : wanted) {
            if (WbemClassObject.classExists(namespacePointer, wmiClass)) {
                result.add(wmiClass);
            }
        }
        return result;
    }

    /** Implemented by the server, which binds it with RegisterNatives. */
    public native void CheckForEvents(int sink, int object);

    static void deliverEvent(int sink, int object) {
        EVENT_DELIVERY.CheckForEvents(sink, object);
    }

    private void stopEvents() {
        if (started.isEmpty()) {
            return;
        }
        for (SinkChannel channel : started.values()) {
            channel.close();
        }
        RuntimeException first = null;
        for (EventProvider provider : started.keySet()) {
            try {
                provider.stopEvents();
            } catch (RuntimeException e) {
                if (first == null) {
                    first = e;
                }
            }
        }
        started.clear();
        if (first != null) {
            throw first;
        }
    }

    /** A context for one request, which the request closes when it ends. */
    private ProviderContext context(String wmiClass) {
        return new ProviderContext(namespacePointer, namespaceName, wmiClass);
    }

    @Override
    public String toString() {
        return "Glue[" + namespaceName + ", " + providers + "]";
    }
}
