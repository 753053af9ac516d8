// The HTML page: a small single-page application over the JSON API.
#pragma once

// Writes the page's header block, the document head (theme script,
// stylesheet, theme bridge) and the opening of the body; the back link only
// when embed is 0.
void html_head(int embed);

// Writes the cards and the client script and closes the document.
void html_body(void);
