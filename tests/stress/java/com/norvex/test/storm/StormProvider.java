package com.norvex.test.storm;

import com.norvex.sysmgt.provider.EventChannel;
import com.norvex.sysmgt.provider.EventProvider;
import com.norvex.sysmgt.provider.Instance;

/**
 * Fires Bench_Event as fast as one thread can, and ignores being told to stop: the thread ends
 * only when its channel refuses to make another event. So only the channel stands between the
 * storm and a sink the server has released.
 */
public class StormProvider implements EventProvider {
    @Override
    public String wmiClass() {
        return "Bench_Event";
    }

    @Override
    public void startEvents(EventChannel channel) {
        Thread storm = new Thread(() -> {
            for (;;) {
                Instance made = channel.newEvent("Bench_Event");
                if (made == null) {
                    return;
                }
                try (Instance event = made) {
                    event.setString("What", "storm");
                    channel.fire(event);
                }
            }
        }, "event storm");
        storm.setDaemon(true);
        storm.start();
    }

    @Override
    public void stopEvents() {}
}
