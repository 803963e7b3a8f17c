package com.norvex.sysmgt.provider;

/**
 * A failure to report to the client. Its class and message reach the client in the request's
 * extended status and the server's trace log. The request answers {@link #status()}:
 * {@link WbemStatus#FAILED} unless the provider chose another, for example
 * {@code new ProviderException("No disk d9", WbemStatus.NOT_FOUND)}.
 */
public class ProviderException extends RuntimeException {
    private static final long serialVersionUID = 1L;
    private final int status;

    public ProviderException(String message) {
        this(message, WbemStatus.FAILED, null);
    }

    public ProviderException(String message, Throwable cause) {
        this(message, WbemStatus.FAILED, cause);
    }

    /** A failure answering {@code status}, a WMI failure code (one of {@link WbemStatus}). */
    public ProviderException(String message, int status) {
        this(message, status, null);
    }

    public ProviderException(String message, int status, Throwable cause) {
        super(message, cause);
        this.status = status;
    }

    /** The WMI status the request answers; a code that is not a failure answers FAILED. */
    public int status() {
        return status;
    }
}
