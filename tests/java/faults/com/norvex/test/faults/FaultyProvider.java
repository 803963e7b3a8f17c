package com.norvex.test.faults;

import com.norvex.sysmgt.cim.wmi.wbem.WbemException;
import com.norvex.sysmgt.provider.Instance;
import com.norvex.sysmgt.provider.InstanceEnumerator;
import com.norvex.sysmgt.provider.InstanceProvider;
import com.norvex.sysmgt.provider.MethodProvider;
import com.norvex.sysmgt.provider.ObjectPath;
import com.norvex.sysmgt.provider.ProviderContext;
import com.norvex.sysmgt.provider.ProviderException;
import com.norvex.sysmgt.provider.WbemStatus;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.util.List;

/**
 * Velt_Fault, written against the SDK alone: each key value of a get chooses how it fails. It
 * stores nothing, so a put is an operation it does not implement.
 */
public class FaultyProvider implements InstanceProvider, InstanceEnumerator, MethodProvider {
    @Override
    public String wmiClass() {
        return "Velt_Fault";
    }

    @Override
    public Instance getInstance(ObjectPath path, ProviderContext context) {
        String name = path.requireKey("Name");
        switch (name) {
            case "absent":
                return null;
            case "crash":
                throw new IllegalStateException("disk d1 is offline");
            case "denied":
                throw new ProviderException("no access to d1", WbemStatus.ACCESS_DENIED);
            case "invalid":
                throw new WbemException("Name is not a disk", WbemStatus.INVALID_PARAMETER);
            default:
                return context.newInstance().setString("Name", name).setString("Label", "fine");
        }
    }

    @Override
    public List<Instance> enumerateInstances(ProviderContext context) {
        throw new ProviderException("the disk list is locked");
    }

    @Override
    public void invokeMethod(ObjectPath target, String method, Instance in, Instance out,
            ProviderContext context) {
        throw new ProviderException("Reset failed",
                new UncheckedIOException(new IOException("device busy")));
    }
}
