#include "page/page.h"

#include <stddef.h>
#include <stdio.h>

#include "cron/cron.h"
#include "version.h"

// The stylesheet and scripts, compiled in from src/page/*.css and *.js.
extern const char k_page_theme_early_js[];
extern const size_t k_page_theme_early_js_size;
extern const char k_page_css[];
extern const size_t k_page_css_size;
extern const char k_page_theme_bridge_js[];
extern const size_t k_page_theme_bridge_js_size;
extern const char k_page_app_js[];
extern const size_t k_page_app_js_size;

static const char k_html_header[] = "Content-Type: text/html; charset=utf-8\r\n"
                                    "Cache-Control: no-store\r\n"
                                    "X-Content-Type-Options: nosniff\r\n"
                                    "\r\n";

static const char k_html_start[] =
    "<!DOCTYPE html>\n"
    "<html lang='en'><head><meta charset='utf-8'>"
    "<meta name='viewport' content='width=device-width,initial-scale=1'>"
    "<title>crontab</title>";

static const char k_back_link[] =
    "<div class='top'><a href='/' "
    "style='color:var(--accent);text-decoration:none;font-weight:600'>"
    "&#8592; Back to Vorn</a></div>";

static const char k_top_bar[] =
    "<div class='top'><h1 class='title'>crontab</h1>"
    "<span class='pill'>" ZV_VERSION "</span>"
    "<span id='badge' class='pill'>loading</span>"
    "<span class='spacer'></span>"
    "<button id='themeBtn' class='ghost embed-hide' type='button'>Theme</button>"
    "<button id='reloadBtn' class='ghost' type='button'>Refresh</button>"
    "</div>";

static const char k_overview_card[] =
    "<div class='card'><h2>Schedule overview</h2>"
    "<div class='grid'>"
    "<div class='kpi'><div class='k'>jobs</div><div class='v' id='k-total'>&mdash;</div></div>"
    "<div class='kpi'><div class='k'>parsed</div><div class='v' id='k-valid'>&mdash;</div></div>"
    "<div class='kpi'><div class='k'>next run</div><div class='v' id='k-next'>&mdash;</div></div>"
    "<div class='kpi'><div class='k'>failed</div><div class='v' id='k-failed'>&mdash;</div></div>"
    "<div class='kpi'><div class='k'>sources</div><div class='v' id='k-src'>&mdash;</div></div>"
    "<div class='kpi'><div class='k'>problems</div><div class='v' id='k-prob'>&mdash;</div></div>"
    "</div>"
    "<div class='row' style='margin-top:12px'>"
    "<label for='q' class='sr'>Filter jobs</label>"
    "<input id='q' type='text' autocomplete='off' "
    "placeholder='filter by command, user, source or expression'>"
    "<label class='chk'><input id='qProb' type='checkbox'> problems only</label>"
    "<span id='qCount' class='count muted' role='status'></span>"
    "</div>"
    "<div id='note' class='muted' role='status' style='margin-top:10px'></div>"
    "<div class='tblwrap' role='region' aria-label='Scheduled jobs'><table><thead><tr>"
    "<th scope='col'>Source</th><th scope='col'>Schedule</th><th scope='col'>Meaning</th>"
    "<th scope='col'>Next run</th><th scope='col'>Last run</th><th scope='col'>User</th>"
    "<th scope='col'>Command</th>"
    "</tr></thead><tbody id='rows'></tbody></table></div>"
    "<div id='empty' class='empty hide'>No scheduled entries found on this node.</div>"
    "</div>";

// The timeline: its span switch, the busiest minute and the clocks, the
// lanes the script draws, and the same runs as a table.
static const char k_timeline_card[] =
    "<div class='card'><h2>Timeline</h2>"
    "<div class='row'>"
    "<div class='tlspan' role='group' aria-label='Timeline span'>"
    "<button id='tl24' class='ghost sm' type='button' aria-pressed='true'>24 hours</button>"
    "<button id='tl168' class='ghost sm' type='button' aria-pressed='false'>7 days</button>"
    "</div><span class='spacer'></span>"
    "<button id='tlTableBtn' class='ghost sm' type='button' aria-pressed='false' "
    "aria-controls='tlTable'>Show as table</button>"
    "</div>"
    "<div id='tlBusy' class='tl-busytext'></div>"
    "<div id='tlClock' class='muted tl-clock'></div>"
    "<div id='tlNote' class='err'></div>"
    "<div id='tlChart' class='tl'></div>"
    "<div id='tlTable' class='tblwrap hide' role='region' aria-label='Timeline as a table' "
    "tabindex='0'><table class='tltab'><thead><tr>"
    "<th scope='col'>Source</th><th scope='col'>Command</th><th scope='col'>Schedule</th>"
    "<th scope='col'>Runs</th></tr></thead><tbody id='tlRows'></tbody></table></div>"
    "</div>";

// The playground's input carries the longest text the program judges
// (data-max, in UTF-8 bytes), so that the page answers a longer one itself.
static const char k_playground_start[] =
    "<div class='card'><h2>Schedule playground</h2>"
    "<div class='seg' role='group' aria-label='Expression language'>"
    "<button id='synCron' class='ghost sm' type='button' aria-pressed='true'>cron</button>"
    "<button id='synSystemd' class='ghost sm' type='button' aria-pressed='false'>"
    "systemd calendar</button>"
    "</div>"
    "<div class='play'>"
    "<label for='ex' id='exLabel' class='sr'>Cron expression</label>"
    "<input id='ex' type='text' value='*/15 9-17 * * 1-5' spellcheck='false' autocomplete='off' "
    "data-max='";
static const char k_playground_card[] =
    "' placeholder='minute hour day-of-month month day-of-week'>"
    "<button id='goBtn' type='button'>Explain</button>"
    "</div>"
    "<div id='exNote' class='muted' role='status' style='margin-top:10px'>"
    "Accepts standard five-field expressions and @hourly, @daily, @weekly, @monthly, @yearly, "
    "@reboot.</div>"
    "<div id='exNorm' class='src hide'></div>"
    "<div id='exRuns' class='runs'></div>"
    "<div id='exConv' class='conv hide'>"
    "<div class='conv-head'><span id='exConvTitle' class='conv-title'>As a systemd timer</span>"
    "<span class='spacer'></span><span id='copyNote' class='muted' role='status'></span>"
    "<button id='copyBtn' class='ghost sm' type='button'>Copy</button></div>"
    "<pre id='exConvText' class='conv-text'></pre>"
    "<div id='exConvNote' class='conv-note muted'></div>"
    "</div>"
    "</div>";

static const char k_about_card[] =
    "<div class='card'><h2>About this plugin</h2>"
    "<p class='muted' style='margin:0 0 8px'>Local node only. Reads <code>crontab -l</code>, "
    "<code>/etc/crontab</code> and <code>/etc/cron.d</code> on Linux and macOS, or "
    "<code>schtasks</code> on Windows. It is strictly read-only: no schedule is ever written "
    "and no scheduled command is ever executed.</p>"
    "<p class='muted' style='margin:0'>Set <code>CRONTAB_FILE</code> to inspect a fixture file "
    "instead of the live machine. </p>"
    "</div>";

static void put(const char *data, size_t size) {
    fwrite(data, 1, size, stdout);
}

void html_head(int embed) {
    fputs(k_html_header, stdout);
    fputs(k_html_start, stdout);
    fputs("<script>", stdout);
    put(k_page_theme_early_js, k_page_theme_early_js_size);
    fputs("</script>\n<style>", stdout);
    put(k_page_css, k_page_css_size);
    fputs("</style></head><script>", stdout);
    put(k_page_theme_bridge_js, k_page_theme_bridge_js_size);
    fputs("</script>\n<body><div class='wrap'>", stdout);
    if (!embed) fputs(k_back_link, stdout);
}

void html_body(void) {
    fputs("<main>", stdout);
    fputs(k_top_bar, stdout);
    fputs(k_overview_card, stdout);
    fputs(k_timeline_card, stdout);
    fputs(k_playground_start, stdout);
    printf("%d", (int)CRON_TEXT_MAX);
    fputs(k_playground_card, stdout);
    fputs(k_about_card, stdout);
    fputs("</main><script>\n", stdout);
    put(k_page_app_js, k_page_app_js_size);
    fputs("</script></div></body></html>\n", stdout);
}
