#pragma once

// Registers the images the agent's window embeds; the resources live in a static library, so
// the program and the window tests call this once before showing anything.
void initAgentTrayResources();
