// The two surface registries whose head and tail the caller keeps.
#include <gtest/gtest.h>

#include "korvan_framework_lib.h"

TEST(SurfaceRegistry, IntrusiveListLinksBehindTheGivenTailAndLeavesTheHeadToTheCaller) {
    kvn_surface_node a = {nullptr, nullptr}, b = {nullptr, nullptr}, c = {nullptr, nullptr};
    EXPECT_EQ(0, register_surface(nullptr, nullptr, &a)) << "into the empty list";
    EXPECT_EQ(0, register_surface(&a, &a, &b));
    EXPECT_EQ(&b, a.next);
    EXPECT_EQ(0, unregister_surface(&a, &b, &a));
    EXPECT_EQ(&b, a.next) << "the head: the caller moves it";
    EXPECT_EQ(0, register_surface(&a, &b, &c));
    EXPECT_EQ(0, unregister_surface(&a, &c, &b)) << "a middle one";
    EXPECT_EQ(&c, a.next);
    EXPECT_EQ(0, unregister_surface(&a, &c, &c)) << "the tail";
    EXPECT_EQ(nullptr, a.next);
    EXPECT_EQ(-1, unregister_surface(&a, &a, &b)) << "not in the list";
    EXPECT_EQ(-1, register_surface(&a, &a, nullptr));
    EXPECT_EQ(-1, unregister_surface(nullptr, nullptr, &a));
}

// The framework owns the nodes; cleaning releases every surface and answers -1 all the same.
TEST(SurfaceRegistry, SimpleListOwnsItsNodesAndCleaningReleasesEverySurface) {
    static std::vector<IDirectFBSurface *> released;
    IDirectFBSurface s[2]{};
    s[0].Release = s[1].Release = [](IDirectFBSurface *thiz) -> DirectResult {
        released.push_back(thiz);
        return DR_OK;
    };
    kvn_surface_node *head = nullptr, *tail = nullptr;
    EXPECT_EQ(0, register_surface_simple(&head, &tail, &s[0]));
    EXPECT_EQ(0, register_surface_simple(&head, &tail, &s[1]));
    EXPECT_EQ(&s[0], head->surface);
    EXPECT_EQ(&s[1], tail->surface);
    EXPECT_EQ(0, unregister_surface_simple(&head, &tail, &s[1]));
    EXPECT_EQ(head, tail);
    EXPECT_EQ(nullptr, head->next);
    EXPECT_EQ(-1, unregister_surface_simple(&head, &tail, &s[1])) << "no node holds it";
    EXPECT_EQ(0, unregister_surface_simple(&head, &tail, &s[0]));
    EXPECT_EQ(nullptr, head);
    EXPECT_EQ(nullptr, tail);
    EXPECT_EQ(-1, unregister_surface_simple(&head, &tail, &s[0])) << "the empty list";
    for (IDirectFBSurface &one : s) ASSERT_EQ(0, register_surface_simple(&head, &tail, &one));
    EXPECT_EQ(-1, clean_surfaces(head));
    EXPECT_EQ(-1, clean_surfaces(nullptr));
    EXPECT_EQ(-1, register_surface_simple(&head, &tail, nullptr));
    EXPECT_EQ(-1, unregister_surface_simple(nullptr, &tail, &s[0]));
    EXPECT_EQ((std::vector<IDirectFBSurface *>{&s[0], &s[1]}), released);
}
