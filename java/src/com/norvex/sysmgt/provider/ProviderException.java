package com.norvex.sysmgt.provider;

/**
 * A failure to report to the server; its message reaches the server's trace log, and the WMI
 * request fails.
 */
public class ProviderException extends RuntimeException {
    private static final long serialVersionUID = 1L;

    public ProviderException(String message) {
        super(message);
    }

    public ProviderException(String message, Throwable cause) {
        super(message, cause);
    }
}
