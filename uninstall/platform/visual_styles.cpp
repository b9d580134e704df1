#include "platform/visual_styles.h"

#include "resources/resource.h"

bool VisualStyles::Activate(HMODULE module)
{
    if (Active || module == nullptr)
        return Active;
    ACTCTXW context = {};
    context.cbSize = sizeof(context);
    context.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.hModule = module;
    context.lpResourceName = MAKEINTRESOURCEW(IDR_VISUAL_STYLES);
    Context = CreateActCtxW(&context);
    if (Context == INVALID_HANDLE_VALUE)
        return false;
    Active = ActivateActCtx(Context, &Cookie) != FALSE;
    if (!Active)
    {
        ReleaseActCtx(Context);
        Context = INVALID_HANDLE_VALUE;
    }
    return Active;
}

void VisualStyles::Deactivate()
{
    if (!Active)
        return;
    // A frame that a shell extension left above ours goes with it, rather
    // than ending the run with an exception.
    DeactivateActCtx(DEACTIVATE_ACTCTX_FLAG_FORCE_EARLY_DEACTIVATION, Cookie);
    ReleaseActCtx(Context);
    Context = INVALID_HANDLE_VALUE;
    Active = false;
}
