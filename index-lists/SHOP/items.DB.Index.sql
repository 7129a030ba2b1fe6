items_bygrp	CREATE INDEX items_bygrp ON items (grp)
