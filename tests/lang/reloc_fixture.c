/* A small 32-bit library image with real base relocations, for the module loader's tests.
   g_marked holds absolute addresses (HIGHLOW relocations) into .data, .bss and .rdata; .bss has
   no raw data; .reloc is discardable. The tests find g_marked by its marker. */
struct Marked
{
    char szMarker[8];
    void* apTargets[5];
};

static int g_nBss1;
static int g_anBss2[1024];
static const char g_szText[] = "relocated";

struct Marked g_marked = {
    "PL5RELO",
    {&g_marked, &g_nBss1, &g_anBss2[1000], (void*)g_szText, &g_marked.apTargets[4]},
};
