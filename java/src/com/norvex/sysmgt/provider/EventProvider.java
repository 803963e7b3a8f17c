package com.norvex.sysmgt.provider;

/**
 * Fires events. The server starts the provider when WMI subscribes, with a channel to WMI's
 * event sink, and stops it when the sink is replaced or the provider goes away; after
 * {@link #stopEvents()} the old channel fires nothing.
 */
public interface EventProvider extends WmiProvider {
    void startEvents(EventChannel channel);

    void stopEvents();
}
