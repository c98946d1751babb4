"""Offline stand-in for rules_cc: the C++ rules are Bazel's native ones."""

def cc_binary(**attrs):
    native.cc_binary(**attrs)

def cc_import(**attrs):
    native.cc_import(**attrs)

def cc_library(**attrs):
    native.cc_library(**attrs)

def cc_proto_library(**attrs):
    native.cc_proto_library(**attrs)

def cc_test(**attrs):
    native.cc_test(**attrs)

def cc_toolchain(**attrs):
    native.cc_toolchain(**attrs)

def cc_toolchain_suite(**attrs):
    native.cc_toolchain_suite(**attrs)

def fdo_prefetch_hints(**attrs):
    native.fdo_prefetch_hints(**attrs)

def fdo_profile(**attrs):
    native.fdo_profile(**attrs)

def objc_import(**attrs):
    native.objc_import(**attrs)

def objc_library(**attrs):
    native.objc_library(**attrs)
