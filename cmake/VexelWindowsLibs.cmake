# Windows system libraries the adapters in platform/win32 link against.
# Keep each subsystem's lines together.

# Scheduled task: the COM runtime, BSTR and VARIANT functions, and the class
# and interface identifiers of both task scheduler generations.
target_link_libraries(vexel_platform PUBLIC ole32 oleaut32 uuid taskschd)
