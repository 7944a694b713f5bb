#pragma once

// A reader or writer held in place of the one before. A new one is often started from the end
// of the last one's, inside the old one's signal: the old one goes once that is over, and its
// exchanges are forgotten at once.
namespace Profiles {

template <typename Steps>
void replaceHeld(Steps *&held, Steps *fresh)
{
    if (held) {
        held->cancel();
        held->deleteLater();
    }
    held = fresh;
}

} // namespace Profiles
