/** The example as a module: on the module path it requires the provider's module by name. */
module example.consumer {
    requires zandrop.tesk.pkcs11.vorlen.provider;
}
