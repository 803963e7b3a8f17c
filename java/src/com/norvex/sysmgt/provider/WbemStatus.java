package com.norvex.sysmgt.provider;

/**
 * The WMI failure codes a provider most often answers with, for {@link ProviderException}. Any
 * other WMI failure code (0x8004xxxx) may be given as well.
 */
public final class WbemStatus {
    private WbemStatus() {}

    /** The default for any exception: the provider failed. */
    public static final int FAILED = 0x80041001;
    /** The instance the path names does not exist. */
    public static final int NOT_FOUND = 0x80041002;
    public static final int ACCESS_DENIED = 0x80041003;
    public static final int INVALID_PARAMETER = 0x80041008;
    public static final int NOT_SUPPORTED = 0x8004100C;
    public static final int INVALID_OBJECT = 0x8004100F;
    public static final int PROVIDER_NOT_FOUND = 0x80041011;
    public static final int PROVIDER_LOAD_FAILURE = 0x80041013;
    public static final int ALREADY_EXISTS = 0x80041019;
    public static final int INVALID_METHOD_PARAMETERS = 0x8004102F;
    public static final int TYPE_MISMATCH = 0x80041005;
    public static final int INVALID_OBJECT_PATH = 0x8004103A;
}
