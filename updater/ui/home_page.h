// The product's home page, opened in the user's browser.
#pragma once

// Opens the home page that the build names (ULMET_HOME_PAGE).
void OpenHomePage();
