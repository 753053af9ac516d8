#include "page/page.h"

#include <stdio.h>

void html_head(int embed) {
    fputs("Content-Type: text/html; charset=utf-8\r\n"
          "Cache-Control: no-store\r\n"
          "X-Content-Type-Options: nosniff\r\n"
          "\r\n",
          stdout);
    (void)embed;
}

void html_body(void) {}
