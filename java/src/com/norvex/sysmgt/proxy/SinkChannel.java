package com.norvex.sysmgt.proxy;

import com.norvex.sysmgt.cim.wmi.wbem.WbemClassObject;
import com.norvex.sysmgt.provider.EventChannel;
import com.norvex.sysmgt.provider.Instance;
import java.util.concurrent.locks.ReentrantReadWriteLock;

/**
 * Fires events to one WMI event sink until closed. Making an event and firing one both work
 * under the channel's lock and only while it is open, and closing waits for those under way:
 * once {@link #close} returns, neither the sink nor the namespace is touched again, and the
 * server may release them. The channel holds no reference to the Glue that made it, so a
 * provider thread that keeps firing does not keep the Glue alive.
 */
final class SinkChannel implements EventChannel {
    private final int sink;
    private final long namespacePointer;
    private final ReentrantReadWriteLock lock = new ReentrantReadWriteLock();
    private boolean open = true;

    SinkChannel(int sink, long namespacePointer) {
        this.sink = sink;
        this.namespacePointer = namespacePointer;
    }

    @Override
    public Instance newEvent(String eventClass) {
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
