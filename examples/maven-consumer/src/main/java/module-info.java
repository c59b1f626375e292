/** The example as a module: on the module path it requires vorlen-pkcs11's module by name. */
module example.consumer {
    requires zandrop.tesk.pkcs11.vorlen;
}
