# Turns the UMD build of Underscore.js into a QML library script.
#
# QML has no window, global or module object. Inside init() the UMD header finds local
# `exports` and `module` objects, takes its CommonJS branch and leaves the library in
# module.exports, which init() returns. Every call builds a fresh library object.
#
# cmake -DINPUT=<underscore.js> -DOUTPUT=<wrapped.js> -P wrap-underscore.cmake

if(NOT INPUT OR NOT OUTPUT)
    message(FATAL_ERROR "usage: cmake -DINPUT=<underscore.js> -DOUTPUT=<file> -P wrap-underscore.cmake")
endif()

file(READ ${INPUT} library)

set(head [[.pragma library
// Generated at build time from the system's Underscore.js; do not edit.

function init() {
    var module = { exports: {} };
    var exports = module.exports;
]])
set(tail [[

    return module.exports;
}

// The library object for QML documents that import this script directly.
var _ = init();
]])

file(WRITE ${OUTPUT}.tmp "${head}")
file(APPEND ${OUTPUT}.tmp "${library}")
file(APPEND ${OUTPUT}.tmp "${tail}")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
