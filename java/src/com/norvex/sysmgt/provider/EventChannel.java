package com.norvex.sysmgt.provider;

/** The way to WMI's event sink while the provider holds one. Safe to use from any thread. */
public interface EventChannel {
    /**
     * A new blank event object of the named event class; null once the channel is closed (the
     * server may have released the namespace the event would come from).
     */
    Instance newEvent(String eventClass);

    /**
     * Delivers the event to WMI. False, and nothing delivered, once the channel is closed.
     * The event stays the caller's: close it afterwards.
     */
    boolean fire(Instance event);

    boolean isOpen();
}
