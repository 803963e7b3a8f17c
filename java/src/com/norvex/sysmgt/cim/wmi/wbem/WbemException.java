package com.norvex.sysmgt.cim.wmi.wbem;

/** A WMI call that failed, with the status it answered. */
public class WbemException extends RuntimeException {
    private static final long serialVersionUID = 1L;
    private final int status;

    public WbemException(String message, int status) {
        super(message);
        this.status = status;
    }

    /** The HRESULT of the failed call, for example 0x80041002 (not found). */
    public int status() {
        return status;
    }
}
