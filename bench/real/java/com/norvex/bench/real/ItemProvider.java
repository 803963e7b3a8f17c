package com.norvex.bench.real;

import com.norvex.sysmgt.provider.Instance;
import com.norvex.sysmgt.provider.InstanceProvider;
import com.norvex.sysmgt.provider.ObjectPath;
import com.norvex.sysmgt.provider.ProviderContext;

/** Bench_Item through the real Glue and SDK: the least a provider can do for a get. */
public class ItemProvider implements InstanceProvider {
    @Override
    public String wmiClass() {
        return "Bench_Item";
    }

    @Override
    public Instance getInstance(ObjectPath path, ProviderContext context) {
        return context.newInstance().setString("Name", path.requireKey("Name"));
    }
}
