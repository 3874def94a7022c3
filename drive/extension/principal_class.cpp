// The extension module's entry point: the system side loads the module and
// asks this factory for the extension of each domain.
#include "drive/extension/file_provider_extension.h"

OSTREL_FILE_PROVIDER_PRINCIPAL_CLASS(ostrel::drive::FileProviderExtension)
