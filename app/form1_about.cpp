#include "app/form1.h"

#include "widgets/form2.h"

void Form1::Aboutbox_triggered()
{
    if (!form2)
        form2 = std::make_unique<Form2>();
    // Application modal: the terminal window takes no input until the About window is closed,
    // while received data goes on reaching the screen.
    form2->exec();
}
