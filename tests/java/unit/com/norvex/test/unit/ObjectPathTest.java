package com.norvex.test.unit;

import com.norvex.sysmgt.provider.ObjectPath;
import java.util.Map;

/** The object-path parser: prefixes, key forms, escapes and the faults it must refuse. */
public final class ObjectPathTest {
    private static int failures;

    public static void main(String[] args) {
        ObjectPath keyed = ObjectPath.parse("Velt_Disk.Name=\"a \\\"b\\\" \\\\c,d\",Slot=3");
        check(keyed.className(), "Velt_Disk");
        check(keyed.keys(), Map.of("Name", "a \"b\" \\c,d", "Slot", "3"));
        check(keyed.key("name"), "a \"b\" \\c,d");
        check(keyed.longKey("SLOT"), 3L);

        ObjectPath prefixed = ObjectPath.parse("\\\\.\\root\\velt:Velt_Disk.Name=\"x:y\"");
        check(prefixed.server(), ".");
        check(prefixed.namespace(), "root\\velt");
        check(prefixed.key("Name"), "x:y");
        check(ObjectPath.parse("root\\velt:Settings=@").namespace(), "root\\velt");

        check(ObjectPath.parse("Settings=@").isSingleton(), true);
        check(ObjectPath.parse("Velt_Disk").isClassPath(), true);
        check(ObjectPath.parse("Velt_Disk=\"only\"").key(""), "only");
        check(ObjectPath.parse("Velt_Disk.Flag=TRUE,Delta=-5").keys(), Map.of("Flag", "TRUE", "Delta", "-5"));

        for (String bad : new String[] {"", ".Name=1", "Disk.Name=\"open", "Disk.Name=",
                "Disk.=1", "Disk.Name=1,Name=2", "Disk.Name=\"x\"junk", "Disk#", "\\\\server:Disk"}) {
            try {
                ObjectPath.parse(bad);
                fail("accepted " + bad);
            } catch (IllegalArgumentException e) {
                if (!e.getMessage().startsWith("Invalid object path " + bad + ": ")) {
                    fail("message " + e.getMessage());
                }
            }
        }
        if (failures > 0) {
            System.exit(1);
        }
        System.out.println("ObjectPathTest passed");
    }

    private static void check(Object actual, Object expected) {
        if (!actual.equals(expected)) {
            fail("expected " + expected + " but got " + actual);
        }
    }

    private static void fail(String what) {
        failures++;
        System.out.println("FAILED: " + what);
        new Throwable().printStackTrace(System.out);
    }
}
