// Filled with the model catalogue.
