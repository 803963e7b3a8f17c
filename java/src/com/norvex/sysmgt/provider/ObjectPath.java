package com.norvex.sysmgt.provider;

import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.Map;

/**
 * A WMI object path: an optional {@code \\server\namespace:} prefix, the class, and either key
 * bindings ({@code Class.Key="value",Other=3}), the singleton marker ({@code Class=@}), a single
 * unnamed key ({@code Class="value"}) or nothing (a class path). Inside quoted values {@code \"}
 * and {@code \\} stand for the quote and the backslash.
 */
public final class ObjectPath {
    private final String text;
    private final String server;
    private final String namespace;
    private final String className;
    private final boolean singleton;
    private final Map<String, String> keys;

    private ObjectPath(String text, String server, String namespace, String className,
            boolean singleton, Map<String, String> keys) {
        this.text = text;
        this.server = server;
        this.namespace = namespace;
        this.className = className;
        this.singleton = singleton;
        this.keys = keys;
    }

    /** Parses a path; IllegalArgumentException naming the path and the fault when it is bad. */
    public static ObjectPath parse(String text) {
        if (text == null) {
            throw new IllegalArgumentException("Invalid object path: null");
        }
        return new Parser(text).parse();
    }

    /** The path as it was given. */
    public String text() {
        return text;
    }

    /** The server, or null without a prefix. */
    public String server() {
        return server;
    }

    /** The namespace, or null without a prefix. */
    public String namespace() {
        return namespace;
    }

    public String className() {
        return className;
    }

    public boolean isSingleton() {
        return singleton;
    }

    /** Whether the path names a class rather than an instance. */
    public boolean isClassPath() {
        return !singleton && keys.isEmpty();
    }

    /**
     * The keys in path order, by name; a single unnamed key has the name "". Values are the
     * text between the quotes (unescaped) or the bare literal (numbers, TRUE, FALSE).
     */
    public Map<String, String> keys() {
        return keys;
    }

    /** The key's value, its name compared without case; null when the path has no such key. */
    public String key(String name) {
        for (Map.Entry<String, String> entry : keys.entrySet()) {
            if (entry.getKey().equalsIgnoreCase(name)) {
                return entry.getValue();
            }
        }
        return null;
    }

    /** A key that must be there, as text. */
    public String requireKey(String name) {
        String value = key(name);
        if (value == null) {
            throw new ProviderException("Object path " + text + " has no key " + name);
        }
        return value;
    }

    public long longKey(String name) {
        String value = requireKey(name);
        try {
            return Long.parseLong(value);
        } catch (NumberFormatException e) {
            throw new ProviderException("Key " + name + " of " + text + " is not a number: " + value);
        }
    }

    @Override
    public String toString() {
        return text;
    }

    private static final class Parser {
        private final String text;
        private int position;

        Parser(String text) {
            this.text = text;
        }

        ObjectPath parse() {
            String server = null;
            String namespace = null;
            String rest = text;
            if (rest.startsWith("\\\\") || rest.startsWith("//")) {
                // Server names may hold dots ("." for this machine), namespaces never do.
                int slash = firstSeparator(rest, 2);
                if (slash <= 2) {
                    throw fault("no namespace after the server");
                }
                int colon = prefixEnd(rest, slash + 1);
                if (colon < 0) {
                    throw fault("a server prefix without the ':' that ends the namespace");
                }
                server = rest.substring(2, slash);
                namespace = rest.substring(slash + 1, colon);
                position = colon + 1;
            } else {
                int colon = prefixEnd(rest, 0);
                if (colon >= 0) {
                    namespace = rest.substring(0, colon);
                    position = colon + 1;
                }
            }
            String className = identifier();
            if (className.isEmpty()) {
                throw fault("no class name");
            }
            Map<String, String> keys = new LinkedHashMap<>();
            boolean singleton = false;
            if (position < text.length()) {
                char c = text.charAt(position++);
                if (c == '.') {
                    bindings(keys);
                } else if (c == '=') {
                    if (position < text.length() && text.charAt(position) == '@') {
                        position++;
                        singleton = true;
                    } else {
                        keys.put("", value());
                    }
                } else {
                    throw fault("'" + c + "' after the class name");
                }
                if (position != text.length()) {
                    throw fault("text after the keys");
                }
            }
            return new ObjectPath(text, server, namespace, className, singleton,
                    Collections.unmodifiableMap(keys));
        }

        private void bindings(Map<String, String> keys) {
            while (true) {
                String name = identifier();
                if (name.isEmpty()) {
                    throw fault("a key without a name");
                }
                if (position >= text.length() || text.charAt(position) != '=') {
                    throw fault("key " + name + " without '='");
                }
                position++;
                for (String known : keys.keySet()) {
                    if (known.equalsIgnoreCase(name)) {
                        throw fault("key " + name + " given twice");
                    }
                }
                keys.put(name, value());
                if (position < text.length() && text.charAt(position) == ',') {
                    position++;
                    continue;
                }
                return;
            }
        }

        private String value() {
            if (position < text.length() && text.charAt(position) == '"') {
                position++;
                StringBuilder value = new StringBuilder();
                while (position < text.length()) {
                    char c = text.charAt(position++);
                    if (c == '"') {
                        return value.toString();
                    }
                    if (c == '\\' && position < text.length()) {
                        char next = text.charAt(position);
                        if (next == '"' || next == '\\') {
                            value.append(next);
                            position++;
                            continue;
                        }
                    }
                    value.append(c);
                }
                throw fault("a quoted value without its closing quote");
            }
            int start = position;
            while (position < text.length() && text.charAt(position) != ',') {
                position++;
            }
            String literal = text.substring(start, position).trim();
            if (literal.isEmpty()) {
                throw fault("a key without a value");
            }
            return literal;
        }

        private String identifier() {
            int start = position;
            while (position < text.length()) {
                char c = text.charAt(position);
                if (!(Character.isLetterOrDigit(c) || c == '_')) {
                    break;
                }
                position++;
            }
            return text.substring(start, position);
        }

        // The ':' that ends a namespace prefix: the first one before any '.', '=' or quote.
        private static int prefixEnd(String path, int from) {
            for (int i = from; i < path.length(); i++) {
                char c = path.charAt(i);
                if (c == ':') {
                    return i;
                }
                if (c == '.' || c == '=' || c == '"') {
                    return -1;
                }
            }
            return -1;
        }

        private static int firstSeparator(String path, int from) {
            for (int i = from; i < path.length(); i++) {
                char c = path.charAt(i);
                if (c == '\\' || c == '/') {
                    return i;
                }
            }
            return -1;
        }

        private IllegalArgumentException fault(String what) {
            return new IllegalArgumentException("Invalid object path " + text + ": " + what);
        }
    }
}
