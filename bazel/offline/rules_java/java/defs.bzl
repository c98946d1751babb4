"""Offline stand-in for rules_java: the Java rules are Bazel's native ones."""

def java_binary(**attrs):
    native.java_binary(**attrs)

def java_import(**attrs):
    native.java_import(**attrs)

def java_library(**attrs):
    native.java_library(**attrs)

def java_lite_proto_library(**attrs):
    native.java_lite_proto_library(**attrs)

def java_package_configuration(**attrs):
    native.java_package_configuration(**attrs)

def java_plugin(**attrs):
    native.java_plugin(**attrs)

def java_proto_library(**attrs):
    native.java_proto_library(**attrs)

def java_runtime(**attrs):
    native.java_runtime(**attrs)

def java_test(**attrs):
    native.java_test(**attrs)

def java_toolchain(**attrs):
    native.java_toolchain(**attrs)
