package com.norvex.test.crash;

import com.norvex.sysmgt.provider.Instance;
import com.norvex.sysmgt.provider.InstanceProvider;
import com.norvex.sysmgt.provider.ObjectPath;
import com.norvex.sysmgt.provider.ProviderContext;
import java.io.File;

/**
 * Crashes the VM. For the key "now" on the request's own thread, so the request never gets its
 * answer; for any other key on a thread of its own, answering the request once the VM has begun
 * its crash report, so the session goes on to its end while the VM is still dying.
 */
public class CrashProvider implements InstanceProvider {
    private static native void crash();

    @Override
    public String wmiClass() {
        return "Velt_Crash";
    }

    @Override
    public Instance getInstance(ObjectPath path, ProviderContext context) {
        File folder = new File(System.getProperty("CWD"));
        System.load(new File(folder, System.mapLibraryName("velt_test_crash")).getAbsolutePath());
        if (path.requireKey("Name").equals("now")) {
            crash();
        }
        String report = "hs_err_pid" + ProcessHandle.current().pid() + ".log";
        Thread crasher = new Thread(CrashProvider::crash, "crasher");
        crasher.setDaemon(true);
        crasher.start();
        // Wherever the VM puts its report: beside the server or in the current folder.
        File[] places = {new File(folder, report), new File(System.getProperty("user.dir"), report)};
        for (int round = 0; round < 400; ++round) {
            for (File place : places) {
                if (place.exists()) {
                    return context.newInstance().setString("Name", path.requireKey("Name"));
                }
            }
            try {
                Thread.sleep(50);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                break;
            }
        }
        return null;
    }
}
