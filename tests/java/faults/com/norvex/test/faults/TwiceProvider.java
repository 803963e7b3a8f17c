package com.norvex.test.faults;

import com.norvex.sysmgt.provider.WmiProvider;

/** The test puts a second copy of this class in a jar of its own, as an old build left behind. */
public class TwiceProvider implements WmiProvider {
    @Override
    public String wmiClass() {
        return "Velt_Twice";
    }
}
