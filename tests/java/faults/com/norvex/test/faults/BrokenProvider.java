package com.norvex.test.faults;

import com.norvex.sysmgt.provider.WmiProvider;

/** A provider whose constructor fails, as one whose configuration is missing does. */
public class BrokenProvider implements WmiProvider {
    public BrokenProvider() {
        throw new IllegalStateException("configuration /etc/velt-broken.conf is missing");
    }

    @Override
    public String wmiClass() {
        return "Velt_Broken";
    }
}
