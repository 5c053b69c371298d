// A loadable library that is not a PKCS#11 module: it has no C_GetFunctionList.
extern "C" int certexportNoEntryPoint() {
    return 0;
}
