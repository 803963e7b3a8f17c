package com.norvex.sysmgt.proxy;

import com.norvex.sysmgt.cim.wmi.wbem.WbemException;
import com.norvex.sysmgt.provider.ProviderException;
import com.norvex.sysmgt.provider.WbemStatus;
import com.norvex.sysmgt.provider.WmiProvider;
import java.util.function.Supplier;

/**
 * What the server learns of a Glue member's exception: the WMI status it answers, and texts
 * for the client and the trace log that name the provider it came from.
 */
final class Failures {
    private static final int TOP_FRAMES = 6;
    private static final int CAUSE_FRAMES = 2;
    private static final int CAUSES = 3;

    private Failures() {}

    /** A provider's own exception, with the provider and the member it was called in. */
    static final class OfProvider extends RuntimeException {
        private static final long serialVersionUID = 1L;
        final String provider;
        final String member;

        OfProvider(WmiProvider provider, String member, Throwable thrown) {
            super(thrown + " (provider " + provider.getClass().getName() + ")", thrown);
            this.provider = provider.getClass().getName();
            this.member = member;
        }
    }

    /** Runs a provider's member; whatever it throws is marked as that provider's. */
    static <T> T call(WmiProvider provider, String member, Supplier<T> work) {
        try {
            return work.get();
        } catch (RuntimeException | Error thrown) {
            throw new OfProvider(provider, member, thrown);
        }
    }

    static void run(WmiProvider provider, String member, Runnable work) {
        call(provider, member, () -> {
            work.run();
            return null;
        });
    }

    /** The status chosen by an SDK exception; any other exception answers FAILED. */
    static int status(Throwable failure) {
        Throwable thrown = failure instanceof OfProvider ? failure.getCause() : failure;
        int status = WbemStatus.FAILED;
        if (thrown instanceof WbemException) {
            status = ((WbemException) thrown).status();
        } else if (thrown instanceof ProviderException) {
            status = ((ProviderException) thrown).status();
        }
        // A success code would report a request that delivered nothing as done.
        return status < 0 ? status : WbemStatus.FAILED;
    }

    /** The extended status's Description and ProviderName, then the trace record. */
    static String[] describe(Throwable failure) {
        if (failure instanceof OfProvider) {
            OfProvider of = (OfProvider) failure;
            return new String[] {of.getMessage(), of.provider,
                    "Provider " + of.provider + " failed in " + of.member + ": "
                            + stack(of.getCause(), true)};
        }
        String text = failure instanceof WbemException && failure.getMessage() != null
                ? failure.getMessage()
                : failure.toString();
        return new String[] {
            text, Glue.class.getName(), "The Glue failed: " + stack(failure, false)};
    }

    /** The exception and its causes, each with its first frames: the provider's, if asked. */
    private static String stack(Throwable thrown, boolean providerFrames) {
        String gluePackage = Failures.class.getPackageName() + ".";
        StringBuilder text = new StringBuilder();
        int frames = TOP_FRAMES;
        for (int depth = 0; thrown != null && depth < CAUSES; depth++) {
            if (depth > 0) {
                text.append("\nCaused by: ");
            }
            text.append(thrown);
            StackTraceElement[] trace = thrown.getStackTrace();
            int shown = 0;
            while (shown < Math.min(frames, trace.length)
                    && !(providerFrames && trace[shown].getClassName().startsWith(gluePackage))) {
                text.append("\n\tat ").append(trace[shown++]);
            }
            if (trace.length > shown) {
                text.append("\n\t... ").append(trace.length - shown).append(" more");
            }
            frames = CAUSE_FRAMES;
            thrown = thrown.getCause() == thrown ? null : thrown.getCause();
        }
        return text.toString();
    }
}
