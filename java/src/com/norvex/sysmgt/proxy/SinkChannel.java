package com.norvex.sysmgt.proxy;

import com.norvex.sysmgt.cim.wmi.wbem.WbemClassObject;
import com.norvex.sysmgt.provider.EventChannel;
import com.norvex.sysmgt.provider.Instance;
import java.util.Collections;
import java.util.Set;
import java.util.concurrent.locks.ReentrantReadWriteLock;

/**
 * Fires events of the classes it carries to one WMI event sink of one namespace until closed. Making an event and firing one both work
 * under the channel's lock and only while it is open, and closing waits for those under way:
 * once {@link #close} returns, neither the sink nor the namespace is touched again, and the
 * server may release them. The channel holds no reference to the Glue that made it, so a
 * provider thread that keeps firing does not keep the Glue alive.
 */
final class SinkChannel implements EventChannel {
    private final int sink;
    private final long namespacePointer;
    private final String namespaceName;
    /** The classes the namespace registers of those the provider named; all when it named none. */
    private final Set<String> classes;
    private final Set<String> declared;
    private final ReentrantReadWriteLock lock = new ReentrantReadWriteLock();
    private boolean open = true;

    SinkChannel(int sink, long namespacePointer, String namespaceName, Set<String> classes,
            Set<String> declared) {
        this.sink = sink;
        this.namespacePointer = namespacePointer;
        this.namespaceName = namespaceName;
        this.classes = Collections.unmodifiableSet(classes);
        this.declared = declared;
    }

    @Override
    public String namespaceName() {
        return namespaceName;
    }

    @Override
    public Set<String> eventClasses() {
        return classes;
    }

    @Override
    public Instance newEvent(String eventClass) {
        if (!declared.isEmpty() && !declared.contains(eventClass)) {
            throw new IllegalArgumentException("Event class " + eventClass
                    + " is not among the provider's event classes " + declared);
        }
        if (!declared.isEmpty() && !classes.contains(eventClass)) {
            return null;  // named by the provider, but not registered in this namespace
        }
        lock.readLock().lock();
        try {
            if (!open) {
                return null;
            }
            return new Instance(WbemClassObject.spawn(namespacePointer, eventClass));
        } finally {
            lock.readLock().unlock();
        }
    }

    @Override
    public boolean fire(Instance event) {
        if (event == null || event.isEmpty()) {
            throw new IllegalArgumentException("No event object to fire");
        }
        lock.readLock().lock();
        try {
            if (!open) {
                return false;
            }
            Glue.deliverEvent(sink, (int) event.wbemObject().pointer());
            return true;
        } finally {
            lock.readLock().unlock();
        }
    }

    @Override
    public boolean isOpen() {
        lock.readLock().lock();
        try {
            return open;
        } finally {
            lock.readLock().unlock();
        }
    }

    void close() {
        lock.writeLock().lock();
        try {
            open = false;
        } finally {
            lock.writeLock().unlock();
        }
    }
}
