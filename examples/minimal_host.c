/* The least an application does with the framework: start the display,
 * create and register its window, take the focus, handle a key through the
 * framework's default handler, and clean up in reverse order. */
#include <korvan_framework_lib.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv) {
    kvn_dfb_init(&argc, &argv, &kvn_dfb_global_context.kvn_dfb, &kvn_dfb_global_context.kvn_screen);
    kvn_layer_osd_init(kvn_dfb_global_context.kvn_dfb, &kvn_dfb_global_context.kvn_layer_osd,
                       &kvn_dfb_global_context.kvn_layer_osd_config, NULL, NULL);

    kvn_window browser;
    memset(&browser, 0, sizeof browser);
    browser.window_id = BROWSER;
    browser.active = 1;
    browser.on_focus = 1; /* take the focus at registration */
    browser.hide_others = 1;
    browser.opacity = 0xff;
    browser.focus_on_window_callback = func_default_focus_on_window_callback;
    browser.focus_next_window_callback = func_default_focus_next_window_callback;
    DFBWindowDescription desc;
    kvn_create_window_surface_events(&browser, &desc, 0, 0, 640, 360, DWCAPS_NONE, 0);
    register_window(&browser);

    DFBWindowEvent key;
    memset(&key, 0, sizeof key);
    key.type = DWET_KEYDOWN;
    key.key_symbol = DIKS_SMALL_S;
    int result = kvn_default_event_handling(&browser, &key);
    printf("%s focused: %d, default handler: %d, language %d\n", window_id_str[BROWSER],
           is_self_on_focus(BROWSER), result, get_current_charset());

    unregister_window(&browser);
    kvn_window_clean_up(&browser);
    kvn_clean_up();
    return 0;
}
