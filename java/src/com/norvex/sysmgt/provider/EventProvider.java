package com.norvex.sysmgt.provider;

import java.util.Set;

/**
 * Fires events. The server starts the provider when WMI subscribes in a namespace that registers
 * at least one of its {@link #eventClasses() event classes}, with a channel to WMI's event sink
 * for that namespace, and stops it when the sink is replaced or the provider goes away; after
 * {@link #stopEvents()} the old channel fires nothing. In a namespace that registers none of its
 * event classes the provider is never started.
 */
public interface EventProvider extends WmiProvider {
    /**
     * Called with the channel of a new subscription. Keep the channel; make, fill and fire events
     * through it from any thread.
     */
    void startEvents(EventChannel channel);

    /** Called when the subscription ends: stop watching; the channel is already closed. */
    void stopEvents();

    /**
     * The event classes this provider fires, as the MOF names them (compared without case). The
     * default, an empty set, stands for the provider's own {@link #wmiClass()}: such a provider
     * is started where that class is registered, and its channel does not restrict the classes
     * it makes.
     */
    default Set<String> eventClasses() {
        return Set.of();
    }
}
