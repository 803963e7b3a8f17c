// The components this server hosts: the provider alone.
#include "provider/provider_class_id.h"
#include "provider/provider_listing.h"
#include "provider/proxy_provider.h"
#include "server/factory.h"

CFactoryEntry g_factoryEntries[] = {
    {&CLSID_NorvexVeltProxyProvider, &CProxyProvider::CreateInstance,
     "NorvexVelt Proxy Provider, Release 1.0", "NorvexVeltProxyProvider.Cmpnt1.1",
     "NorvexVeltProxyProvider.Cmpnt1", nullptr, 0},
};
int g_factoryEntryCount = sizeof g_factoryEntries / sizeof g_factoryEntries[0];

int listHostedProviders() { return listJavaProviders(stdout, stderr); }
