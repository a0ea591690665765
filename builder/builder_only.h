// Included first by every header of builder/. The builder's code is for the programs that build
// archives; the extractor stub and the readers of an archive need only the format (archive/).
// A target that does not link tambrix_builder does not get TAMBRIX_LINKS_BUILDER, and so cannot
// include a builder header by mistake.
#pragma once

#ifndef TAMBRIX_LINKS_BUILDER
#error "builder/ is the builder's: link tambrix_builder, or include only archive/ and below."
#endif
