package com.norvex.sysmgt.provider;

import java.util.Set;
import java.util.function.Consumer;

/**
 * The way to WMI's event sink of one namespace while the provider holds one. Safe to use from
 * any thread.
 */
public interface EventChannel {
    /**
     * A new blank event object of the named event class, yours to fill, fire and close. Null once
     * the channel is closed (the server may have released the namespace the event would come
     * from), and null for a class among the provider's {@link EventProvider#eventClasses()} that
     * this namespace does not register.
     *
     * @throws IllegalArgumentException for a class the provider did not name in
     *     {@link EventProvider#eventClasses()} (when it named any)
     */
    Instance newEvent(String eventClass);

    /**
     * Delivers the event to WMI. False, and nothing delivered, once the channel is closed.
     * The event stays the caller's: close it afterwards.
     */
    boolean fire(Instance event);

    boolean isOpen();

    /** The namespace whose subscribers this channel reaches, as WMI names it. */
    default String namespaceName() {
        return null;
    }

    /**
     * The event classes this channel carries: those of the provider's event classes that the
     * namespace registers (the provider's own class when it named none).
     */
    default Set<String> eventClasses() {
        return Set.of();
    }

    /**
     * Makes an event of the class, lets {@code fill} set its properties, fires it and closes it.
     * Never throws: an event that cannot be made, filled or fired is reported to the server's
     * error stream (which the trace log records) and answered with false, so that code which
     * fires events as a side effect of a request (a write that announces itself) does not fail
     * that request.
     */
    default boolean fire(String eventClass, Consumer<Instance> fill) {
        try {
            Instance event = newEvent(eventClass);
            if (event == null) {
                return false;
            }
            try (event) {
                fill.accept(event);
                return fire(event);
            }
        } catch (RuntimeException e) {
            System.err.println("Event " + eventClass + " in " + namespaceName()
                    + " not delivered: " + e);
            return false;
        }
    }
}
