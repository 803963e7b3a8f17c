package com.norvex.sysmgt.provider;

/**
 * A Java provider for one WMI class. A provider class implements this interface through one or
 * more of {@link InstanceProvider}, {@link InstanceEnumerator}, {@link InstanceWriter},
 * {@link MethodProvider} and {@link EventProvider}, has a public no-argument constructor, and
 * is listed in {@code META-INF/services/com.norvex.sysmgt.provider.WmiProvider} of its jar.
 * Each namespace the server serves gets its own provider objects.
 */
public interface WmiProvider {
    /** The WMI class this provider serves, as the MOF names it (compared without case). */
    String wmiClass();
}
