// The box that ends a run which the release check refused (a build with a
// release key only). Its texts live here and nowhere else.
#pragma once

// code: ul::kRelease... (formats/trust/release_check.h), shown as "code-SGnn".
void ShowReleaseRefusal(int code);
