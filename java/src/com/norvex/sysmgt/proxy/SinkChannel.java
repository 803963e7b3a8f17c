package com.norvex.sysmgt.proxy;

import com.norvex.sysmgt.cim.wmi.wbem.WbemClassObject;
import com.norvex.sysmgt.provider.EventChannel;
import com.norvex.sysmgt.provider.Instance;
import java.util.concurrent.locks.ReentrantReadWriteLock;

/**
 * Fires events to one WMI event sink until closed. Closing waits for the events being fired,
 * so once {@link #close} returns the sink is never touched again. The channel holds no
 * reference to the Glue that made it, so a provider thread that keeps firing does not keep the
 * Glue alive past the server's release of it.
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
        return new Instance(WbemClassObject.spawn(namespacePointer, eventClass));
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
